// Script mode: runs the command line's actions in their order (print the
// screen, send a command, wait for the screen to match) and ends with an
// exit status.
#pragma once

#include <QList>
#include <QObject>
#include <QRegularExpression>
#include <QString>
#include <QTimer>

class ConsoleClient;

class ScriptRunner : public QObject
{
    Q_OBJECT
public:
    struct Action
    {
        enum Kind { Dump, Send, Wait } kind;
        QString argument;
    };

    enum ExitStatus { Done = 0, TimedOut = 1, NotRunning = 2 };

    ScriptRunner(ConsoleClient *client, const QList<Action> &actions, int timeoutMs, QObject *parent = nullptr);

    void start();

signals:
    void finished(int status);

private slots:
    void runNext();
    void deadlineReached();
    void checkScreen();

private:
    void finish(int status);
    void advance(int delayMs = 0);

    ConsoleClient *m_client;
    QList<Action> m_actions;
    int m_index = 0;
    int m_running = -1;   // index of the action under way
    int m_timeoutMs;
    QRegularExpression m_pattern;
    QTimer m_deadline;
    QTimer m_poll;
    QString m_lastScreen;
    QString m_lastReason;
    bool m_waiting = false;
    bool m_done = false;
};
