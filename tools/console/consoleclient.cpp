#include "consoleclient.h"

#include "frontend/consoleprotocol.h"

#include <QDataStream>
#include <QDir>
#include <QSharedMemory>

namespace {

QString failureReason(QLocalSocket::LocalSocketError error, const QString &qtText)
{
    switch (error) {
    case QLocalSocket::ServerNotFoundError:
        return QStringLiteral("no socket \"%1\" in %2")
            .arg(ConsoleProtocol::serverName(), QDir::toNativeSeparators(QDir::tempPath()));
    case QLocalSocket::ConnectionRefusedError:
        return QStringLiteral("its socket refuses connections");
    case QLocalSocket::SocketAccessError:
        return QStringLiteral("permission denied: only the user running the installer may connect");
    default:
        return qtText;
    }
}

} // namespace

ConsoleClient::ConsoleClient(QObject *parent)
    : QObject(parent)
{
    // Ticks all the time; an attempt is made only while not connected.
    m_retryTimer.setInterval(1000);
    connect(&m_retryTimer, &QTimer::timeout, this, &ConsoleClient::tryConnect);
    connect(&m_socket, &QLocalSocket::connected, this, &ConsoleClient::socketConnected);
    connect(&m_socket, &QLocalSocket::disconnected, this, &ConsoleClient::socketDisconnected);
    connect(&m_socket, &QLocalSocket::errorOccurred, this, &ConsoleClient::socketError);
    connect(&m_socket, &QLocalSocket::readyRead, this, &ConsoleClient::socketReadyRead);
}

void ConsoleClient::start()
{
    m_retryTimer.start();
    tryConnect();
}

bool ConsoleClient::isConnected() const
{
    return m_socket.state() == QLocalSocket::ConnectedState;
}

void ConsoleClient::tryConnect()
{
    if (m_socket.state() != QLocalSocket::UnconnectedState)
        return;
    m_socket.connectToServer(ConsoleProtocol::serverName());
}

void ConsoleClient::socketConnected()
{
    m_reportedDown = false;
    m_pending.clear();
    emit connected();
}

void ConsoleClient::socketDisconnected()
{
    if (!m_reportedDown) {
        m_reportedDown = true;
        emit notRunning(QStringLiteral("the installer closed the connection"));
    }
}

void ConsoleClient::socketError(QLocalSocket::LocalSocketError error)
{
    if (error == QLocalSocket::PeerClosedError)
        return; // disconnected() reports it
    if (!m_reportedDown) {
        m_reportedDown = true;
        emit notRunning(failureReason(error, m_socket.errorString()));
    }
}

void ConsoleClient::socketReadyRead()
{
    m_pending += m_socket.readAll();
    // Messages are QDataStream strings: a 32-bit big-endian byte count,
    // then UTF-16BE. Only "mem-updated" is defined; anything else is
    // skipped, as is a count that cannot be a short message.
    for (;;) {
        QDataStream in(m_pending);
        in.startTransaction();
        QString message;
        in >> message;
        if (!in.commitTransaction()) {
            if (m_pending.size() > 64 * 1024)
                m_pending.clear();
            return;
        }
        m_pending.remove(0, static_cast<int>(in.device()->pos()));
        QString screen;
        if (message == ConsoleProtocol::memUpdatedMessage() && readScreen(&screen))
            emit screenChanged(screen);
    }
}

bool ConsoleClient::readScreen(QString *screen) const
{
    // Attached only for the read: a client that stayed attached would keep
    // a System V segment alive after the installer quits, and a restarted
    // installer could not create its own.
    QSharedMemory segment(ConsoleProtocol::sharedMemoryKey());
    if (!segment.attach(QSharedMemory::ReadOnly))
        return false;
    const bool locked = segment.lock();
    if (locked) {
        const int size = qMin(static_cast<int>(segment.size()), ConsoleProtocol::kSharedMemorySize);
        *screen = ConsoleProtocol::screenFromSegment(static_cast<const char *>(segment.constData()), size);
        segment.unlock();
    }
    segment.detach();
    return locked;
}

bool ConsoleClient::send(const QString &command)
{
    if (!isConnected())
        return false;
    const QByteArray bytes = command.toUtf8();
    if (m_socket.write(bytes) != bytes.size())
        return false;
    return m_socket.waitForBytesWritten(3000) || m_socket.bytesToWrite() == 0;
}
