// Local socket server of the console link: short messages to every
// connected console client, and the text the clients type.
#pragma once

#include <QList>
#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

class TLocalServer : public QObject
{
    Q_OBJECT
public:
    explicit TLocalServer(QObject *parent = nullptr, const QString &name = QString());
    ~TLocalServer() override;

    bool isListening() const;
    int clientCount() const { return m_sockets.size(); }

    // Writes text to every connected client in the data-stream format.
    void sendMessage(const QString &text);

signals:
    void textReceived(const QString &text);

private slots:
    void newConnection();
    void socketReadyRead();
    void socketDisconnected();

private:
    bool listenOn(const QString &name);
    void sendToLocalSocket(QLocalSocket *socket, const QString &text);

    QLocalServer *m_server;
    QList<QLocalSocket *> m_sockets; // in connection order
};
