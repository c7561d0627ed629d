#include "imageset/imagesetsupport.h"

#include <QDebug>
#include <QFile>

#include "util/debugmode.h"
#include "util/fsprobe.h"

namespace imageset {

QString probeRootfsType(const QString &path)
{
    const QByteArray p = QFile::encodeName(path);
    // btrfs first: a btrfs image made over an old ext4 one may still carry
    // the ext4 magic at 1080, while its own superblock lies at 64 KiB.
    if (is_btrfs_image(p.constData()) == 1)
        return QStringLiteral("btrfs");
    if (is_ext4_filesystem(p.constData()) == 1)
        return QStringLiteral("ext4");
    return QStringLiteral("unknow");
}

void debugLine(const QString &line)
{
    if (debugMode())
        qDebug().noquote() << line;
}

} // namespace imageset
