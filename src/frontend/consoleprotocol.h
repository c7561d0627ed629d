// The endpoints and the one message that the installer and its console
// clients agree on. Header-only so that the console client, which links
// nothing but QtCore and QtNetwork, shares them with the installer.
#pragma once

#include <QByteArray>
#include <QDataStream>
#include <QIODevice>
#include <QString>

namespace ConsoleProtocol {

// QLocalServer name; the socket lives in the temporary directory (TMPDIR).
inline const QString serverName() { return QStringLiteral("imgsmith-gui"); }
// QSharedMemory key of the segment that holds the current screen.
inline const QString sharedMemoryKey() { return QStringLiteral("corvanta-imgsmith"); }
constexpr int kSharedMemorySize = 4096;
// The screen text plus its NUL must fit in the segment.
constexpr int kMaxScreenBytes = kSharedMemorySize - 1;
// The only message to clients: the segment holds a new screen.
inline const QString memUpdatedMessage() { return QStringLiteral("mem-updated"); }
// Input past this many bytes of one read is dropped by the installer.
constexpr int kMaxInputBytes = 4096;

// A string the way it travels to clients: QDataStream's format, a 32-bit
// big-endian byte count followed by UTF-16BE characters.
inline QByteArray encodeMessage(const QString &text)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << text;
    return bytes;
}

// Screen text from the first bytes of the segment (up to the first NUL).
inline QString screenFromSegment(const char *data, int size)
{
    return QString::fromLatin1(data, qstrnlen(data, static_cast<uint>(size)));
}

} // namespace ConsoleProtocol
