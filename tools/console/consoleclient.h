// Connection of the console client to a running installer: the local
// socket for messages and commands, and the shared memory segment that
// holds the current screen. Reconnects every second while the installer is
// not running.
#pragma once

#include <QByteArray>
#include <QLocalSocket>
#include <QObject>
#include <QString>
#include <QTimer>

class ConsoleClient : public QObject
{
    Q_OBJECT
public:
    explicit ConsoleClient(QObject *parent = nullptr);

    void start();
    bool isConnected() const;

    // The screen in the segment, read under its lock; false when the
    // segment cannot be read.
    bool readScreen(QString *screen) const;
    // Sends one command; false when not connected or the write failed.
    bool send(const QString &command);

signals:
    void connected();
    // Once each time an attempt finds no installer (after start or after
    // the installer went away); attempts go on every second.
    void notRunning(const QString &reason);
    void screenChanged(const QString &screen);

private slots:
    void tryConnect();
    void socketConnected();
    void socketDisconnected();
    void socketError(QLocalSocket::LocalSocketError error);
    void socketReadyRead();

private:
    QLocalSocket m_socket;
    QTimer m_retryTimer;
    QByteArray m_pending;   // message bytes not yet complete
    bool m_reportedDown = false;
};
