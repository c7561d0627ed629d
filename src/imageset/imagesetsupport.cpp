#include "imageset/imagesetsupport.h"

#include <QDebug>
#include <QFile>

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "util/debugmode.h"

namespace imageset {

QString sizeHuman(qint64 bytes)
{
    static const char *const units[] = {"bytes", "KB", "MB", "GB", "TB"};
    static const int decimals[] = {0, 0, 0, 1, 2};
    float value = static_cast<float>(bytes);
    int unit = 0;
    while (value >= 1024.0f && unit < 4) {
        value *= 1.0f / 1024.0f;
        unit++;
    }
    return QString::number(value, 'f', decimals[unit]) + QLatin1Char(' ') + QLatin1String(units[unit]);
}

// Reads `len` bytes at `offset`; false on any error or short read.
static bool readAt(const QString &path, off_t offset, char *buf, size_t len)
{
    const QByteArray p = QFile::encodeName(path);
    int fd = open(p.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    ssize_t n = pread(fd, buf, len, offset);
    bool ok = n == static_cast<ssize_t>(len);
    if (close(fd) != 0)
        ok = false;
    return ok;
}

QString probeRootfsType(const QString &path)
{
    // btrfs first: its superblock lies at 64 KiB, past where an ext4 magic
    // would be looked for, and a btrfs image may carry stale ext4 bytes.
    char btrfs[8];
    if (readAt(path, 65536 + 64, btrfs, sizeof btrfs) && memcmp(btrfs, "_BHRfS_M", 8) == 0)
        return QStringLiteral("btrfs");
    unsigned char magic[2];
    if (readAt(path, 1024 + 56, reinterpret_cast<char *>(magic), sizeof magic)
        && magic[0] == 0x53 && magic[1] == 0xEF)
        return QStringLiteral("ext4");
    return QStringLiteral("unknow");
}

QString removeDirRightSeparator(const QString &path)
{
    QString s = path;
    while (s.size() > 1 && (s.endsWith(QLatin1Char('/')) || s.endsWith(QLatin1Char('\\'))))
        s.chop(1);
    return s;
}

void debugLine(const QString &line)
{
    if (debugMode())
        qDebug().noquote() << line;
}

} // namespace imageset
