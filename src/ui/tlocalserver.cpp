#include "ui/tlocalserver.h"

#include "frontend/consoleprotocol.h"
#include "util/debugmode.h"

#include <QDebug>
#include <QLocalServer>
#include <QLocalSocket>

#include <sys/socket.h>
#include <unistd.h>

namespace {

// The socket file is owner-only, so only the installer's user can connect;
// the peer's credentials are checked as well, so a socket file whose mode
// was widened later still lets nobody else in.
bool peerIsOwnUser(QLocalSocket *socket)
{
    struct ucred cred {};
    socklen_t len = sizeof(cred);
    if (getsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0)
        return false;
    return cred.uid == geteuid();
}

// A live installer answers on its socket. (A file left behind by one that
// died refuses connections; listening replaces it.)
bool serverIsAlive(const QString &name)
{
    QLocalSocket probe;
    probe.connectToServer(name);
    const bool alive = probe.waitForConnected(1000);
    probe.abort();
    return alive;
}

} // namespace

TLocalServer::TLocalServer(QObject *parent, const QString &name)
    : QObject(parent), m_server(new QLocalServer(this))
{
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &TLocalServer::newConnection);
    const QString serverName = name.isEmpty() ? ConsoleProtocol::serverName() : name;
    if (listenOn(serverName)) {
        if (debugMode())
            qDebug() << "Ready: Local Server Ready!";
    } else if (debugMode()) {
        qDebug() << "Error: Local Server failed to start!" << m_server->errorString();
    }
}

TLocalServer::~TLocalServer()
{
    // Sockets are children of the server; closing it first makes sure no
    // disconnected() arrives for a socket while the list is going away.
    for (QLocalSocket *socket : std::as_const(m_sockets))
        disconnect(socket, nullptr, this, nullptr);
    m_server->close();
}

bool TLocalServer::listenOn(const QString &name)
{
    // With access options Qt binds in a private directory and renames the
    // socket into place, which would silently take the name from a running
    // installer and cut its clients off from new screens.
    if (serverIsAlive(name))
        return false;
    return m_server->listen(name);
}

bool TLocalServer::isListening() const
{
    return m_server->isListening();
}

void TLocalServer::newConnection()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        if (!peerIsOwnUser(socket)) {
            if (debugMode())
                qDebug() << "Console client of another user refused";
            socket->abort();
            socket->deleteLater();
            continue;
        }
        m_sockets.append(socket);
        connect(socket, &QLocalSocket::readyRead, this, &TLocalServer::socketReadyRead);
        connect(socket, &QLocalSocket::disconnected, this, &TLocalServer::socketDisconnected);
    }
}

void TLocalServer::socketReadyRead()
{
    auto *socket = qobject_cast<QLocalSocket *>(sender());
    if (!socket)
        return;
    // One read is one command; a flood past the bound is thrown away so a
    // client cannot make the installer hold or parse arbitrary amounts.
    const QByteArray data = socket->read(ConsoleProtocol::kMaxInputBytes);
    socket->skip(socket->bytesAvailable());
    const QString text = QString::fromUtf8(data).simplified();
    emit textReceived(text);
}

void TLocalServer::socketDisconnected()
{
    auto *socket = qobject_cast<QLocalSocket *>(sender());
    if (!socket)
        return;
    m_sockets.removeAll(socket);
    socket->deleteLater();
}

void TLocalServer::sendMessage(const QString &text)
{
    for (QLocalSocket *socket : std::as_const(m_sockets))
        sendToLocalSocket(socket, text);
}

void TLocalServer::sendToLocalSocket(QLocalSocket *socket, const QString &text)
{
    if (!socket || !socket->isOpen())
        return;
    socket->write(ConsoleProtocol::encodeMessage(text));
    socket->flush();
}
