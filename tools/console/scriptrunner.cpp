#include "scriptrunner.h"

#include "consoleclient.h"

#include <cstdio>

namespace {

// Two commands written back to back could reach the installer in one read
// and be taken as one command; a short gap keeps them apart.
constexpr int kGapBetweenSendsMs = 300;
// Safety net for a screen published between connecting and the server
// registering this client, which sends no message to it.
constexpr int kPollIntervalMs = 250;

void printErr(const QString &text)
{
    fprintf(stderr, "imgsmith-console: %s\n", qPrintable(text));
    fflush(stderr);
}

} // namespace

ScriptRunner::ScriptRunner(ConsoleClient *client, const QList<Action> &actions, int timeoutMs, QObject *parent)
    : QObject(parent), m_client(client), m_actions(actions), m_timeoutMs(timeoutMs)
{
    m_deadline.setSingleShot(true);
    m_poll.setInterval(kPollIntervalMs);
    connect(&m_deadline, &QTimer::timeout, this, &ScriptRunner::deadlineReached);
    connect(&m_poll, &QTimer::timeout, this, &ScriptRunner::checkScreen);
    connect(m_client, &ConsoleClient::connected, this, &ScriptRunner::runNext);
    connect(m_client, &ConsoleClient::screenChanged, this, &ScriptRunner::checkScreen);
    connect(m_client, &ConsoleClient::notRunning, this, [this](const QString &reason) { m_lastReason = reason; });
}

void ScriptRunner::start()
{
    m_client->start();
    runNext();
}

void ScriptRunner::advance(int delayMs)
{
    // The index moves on only when the next action may start, so a
    // connected() during the gap finds the current action already run.
    QTimer::singleShot(delayMs, this, [this] {
        ++m_index;
        runNext();
    });
}

void ScriptRunner::runNext()
{
    // Both the scheduled call and connected() lead here; each action runs once.
    if (m_done || m_waiting || m_running == m_index)
        return;
    if (m_index >= m_actions.size()) {
        finish(Done);
        return;
    }
    const Action &action = m_actions.at(m_index);
    if (action.kind == Action::Wait) {
        m_running = m_index;
        m_pattern = QRegularExpression(action.argument, QRegularExpression::MultilineOption);
        m_waiting = true;
        m_deadline.start(m_timeoutMs);
        m_poll.start();
        checkScreen();
        return;
    }
    if (!m_client->isConnected()) {
        // connected() calls back here; the deadline ends a wait for an
        // installer that never comes.
        if (!m_deadline.isActive())
            m_deadline.start(m_timeoutMs);
        return;
    }
    m_deadline.stop();
    m_running = m_index;
    if (action.kind == Action::Dump) {
        QString screen;
        if (!m_client->readScreen(&screen)) {
            printErr(QStringLiteral("cannot read the screen of the installer (shared memory \"corvanta-imgsmith\")"));
            finish(NotRunning);
            return;
        }
        fprintf(stdout, "%s\n", screen.toLocal8Bit().constData());
        fflush(stdout);
        advance();
        return;
    }
    if (!m_client->send(action.argument)) {
        printErr(QStringLiteral("could not send \"%1\" to the installer").arg(action.argument));
        finish(NotRunning);
        return;
    }
    const bool sendFollows = m_index + 1 < m_actions.size() && m_actions.at(m_index + 1).kind == Action::Send;
    advance(sendFollows ? kGapBetweenSendsMs : 0);
}

void ScriptRunner::checkScreen()
{
    if (!m_waiting)
        return;
    QString screen;
    if (!m_client->readScreen(&screen))
        return;
    m_lastScreen = screen;
    if (!m_pattern.match(screen).hasMatch())
        return;
    m_waiting = false;
    m_deadline.stop();
    m_poll.stop();
    advance();
}

void ScriptRunner::deadlineReached()
{
    const double seconds = m_timeoutMs / 1000.0;
    if (m_waiting) {
        printErr(QStringLiteral("timed out after %1 s waiting for /%2/; last screen:")
                     .arg(seconds).arg(m_pattern.pattern()));
        fprintf(stderr, "%s\n", m_lastScreen.toLocal8Bit().constData());
        finish(TimedOut);
        return;
    }
    printErr(QStringLiteral("the installer (imgsmith-gui) is not running%1; gave up after %2 s")
                 .arg(m_lastReason.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(m_lastReason))
                 .arg(seconds));
    finish(NotRunning);
}

void ScriptRunner::finish(int status)
{
    if (m_done)
        return;
    m_done = true;
    m_deadline.stop();
    m_poll.stop();
    emit finished(status);
}
