#include "interactivesession.h"

#include "consoleclient.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Ctrl-C and SIGTERM reach the event loop through this pair: the handler
// only writes one byte, which is all a signal handler may safely do.
int gSignalFds[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    const ssize_t ignored = write(gSignalFds[0], &byte, 1);
    (void)ignored;
}

void printOut(const QString &text)
{
    fputs(text.toLocal8Bit().constData(), stdout);
    fflush(stdout);
}

} // namespace

InteractiveSession::InteractiveSession(ConsoleClient *client, QObject *parent)
    : QObject(parent), m_client(client), m_terminal(isatty(STDOUT_FILENO) == 1)
{
    connect(m_client, &ConsoleClient::screenChanged, this, &InteractiveSession::showScreen);
    connect(m_client, &ConsoleClient::connected, this, &InteractiveSession::installerConnected);
    connect(m_client, &ConsoleClient::notRunning, this, &InteractiveSession::installerNotRunning);
    // Lines pasted or piped in together would reach the installer in one
    // read and count as one command; they go out one at a time.
    m_sendGap.setSingleShot(true);
    m_sendGap.setInterval(300);
    connect(&m_sendGap, &QTimer::timeout, this, &InteractiveSession::sendQueued);
}

InteractiveSession::~InteractiveSession()
{
    if (gSignalFds[0] != -1) {
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        close(gSignalFds[0]);
        close(gSignalFds[1]);
        gSignalFds[0] = gSignalFds[1] = -1;
    }
}

void InteractiveSession::start()
{
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gSignalFds) == 0) {
        m_signals = new QSocketNotifier(gSignalFds[1], QSocketNotifier::Read, this);
        connect(m_signals, &QSocketNotifier::activated, this, &InteractiveSession::signalArrived);
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGTERM, &action, nullptr);
    }
    m_input = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(m_input, &QSocketNotifier::activated, this, &InteractiveSession::inputReady);
    m_client->start();
}

void InteractiveSession::showScreen(const QString &screen)
{
    // Redraw in place on a terminal; a pipe or file gets each screen once,
    // one after another.
    if (m_terminal)
        printOut(QStringLiteral("\033[H\033[2J"));
    else
        printOut(QStringLiteral("\n"));
    printOut(screen.isEmpty() ? QStringLiteral("(the installer has not shown a screen yet)") : screen);
    printOut(QStringLiteral("\n> "));
}

void InteractiveSession::installerConnected()
{
    printOut(QStringLiteral("Connected to the installer.\n"));
    QString screen;
    if (m_client->readScreen(&screen))
        showScreen(screen);
}

void InteractiveSession::installerNotRunning(const QString &reason)
{
    printOut(QStringLiteral("\nThe installer (imgsmith-gui) is not running (%1).\n"
                            "Trying again every second; Ctrl-C to give up.\n")
                 .arg(reason));
}

void InteractiveSession::inputReady()
{
    char buffer[1024];
    const ssize_t n = read(STDIN_FILENO, buffer, sizeof(buffer));
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (n <= 0) {
        m_input->setEnabled(false);
        m_endOfInput = true;
        if (!m_sendGap.isActive())
            sendQueued();
        return;
    }
    m_partialLine.append(buffer, static_cast<int>(n));
    int end;
    while ((end = m_partialLine.indexOf('\n')) >= 0) {
        queueLine(m_partialLine.left(end));
        m_partialLine.remove(0, end + 1);
    }
    // A line cannot grow past what the installer reads as one command.
    if (m_partialLine.size() > 4096)
        m_partialLine.clear();
}

void InteractiveSession::queueLine(const QByteArray &line)
{
    const QString command = QString::fromLocal8Bit(line).simplified();
    if (command.isEmpty())
        return;
    m_queue << command;
    if (!m_sendGap.isActive())
        sendQueued();
}

void InteractiveSession::sendQueued()
{
    if (m_queue.isEmpty()) {
        if (m_endOfInput) {
            printOut(QStringLiteral("\n"));
            emit finished(0);
        }
        return;
    }
    const QString command = m_queue.takeFirst();
    if (!m_client->send(command))
        printOut(QStringLiteral("Not connected: \"%1\" was not sent.\n> ").arg(command));
    m_sendGap.start();
}

void InteractiveSession::signalArrived()
{
    char byte;
    const ssize_t ignored = read(gSignalFds[1], &byte, 1);
    (void)ignored;
    printOut(QStringLiteral("\n"));
    emit finished(130);
}
