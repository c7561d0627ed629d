// Interactive mode: shows the installer's screen in the terminal each time
// it changes and sends every typed line as a command. Ends on end of input
// or on Ctrl-C.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

class ConsoleClient;
class QSocketNotifier;

class InteractiveSession : public QObject
{
    Q_OBJECT
public:
    explicit InteractiveSession(ConsoleClient *client, QObject *parent = nullptr);
    ~InteractiveSession() override;

    void start();

signals:
    void finished(int status);

private slots:
    void showScreen(const QString &screen);
    void installerConnected();
    void installerNotRunning(const QString &reason);
    void inputReady();
    void signalArrived();
    void sendQueued();

private:
    void queueLine(const QByteArray &line);

    ConsoleClient *m_client;
    QSocketNotifier *m_input = nullptr;
    QSocketNotifier *m_signals = nullptr;
    QByteArray m_partialLine;
    QStringList m_queue;     // typed commands not yet sent
    QTimer m_sendGap;
    bool m_endOfInput = false;
    bool m_terminal;
};
