#include "frontend/mediastatus.h"

#include "backup/udiskstatus.h"
#include "util/qpaths.h"
#include "util/util.h"

#include <sys/statvfs.h>

MediaStatus MediaStatus::read(const QString &mountPoint, const QString &devName, bool present)
{
    MediaStatus s;
    s.devName = devName;
    s.present = present;
    if (!present)
        return s;
    char type[64] = {0};
    char opts[512] = {0};
    int freq = 0;
    int passno = 0;
    s.mounted = Util::getMountPointStatus(mountPoint, type, sizeof type, opts, sizeof opts, &freq, &passno) == 1;
    if (!s.mounted)
        return s;
    s.fsType = QString::fromLocal8Bit(type);
    s.readOnly = QString::fromLocal8Bit(opts).split(QLatin1Char(',')).contains(QLatin1String("ro"));
    struct statvfs st;
    if (statvfs(sysPath(mountPoint).toLocal8Bit().constData(), &st) == 0) {
        s.freeKiB = static_cast<qint64>(st.f_bavail) * static_cast<qint64>(st.f_frsize) / 1024;
        s.totalKiB = static_cast<qint64>(st.f_blocks) * static_cast<qint64>(st.f_frsize) / 1024;
    }
    return s;
}

MediaStatus MediaStatus::fromUDiskStatus(const UDiskStatus &status, const QString &devName)
{
    MediaStatus s;
    s.devName = devName;
    s.present = status.isPresent();
    s.mounted = status.isMounted();
    s.readOnly = status.isReadOnly();
    s.fsType = status.filesystemType();
    s.totalKiB = status.totalSize();
    s.freeKiB = status.availableSize();
    return s;
}

QString MediaStatus::consoleText(bool usbDrive) const
{
    QString text;
    if (!present) {
        text = QStringLiteral("<none>");
    } else if (!mounted) {
        text = QStringLiteral("<failed to mount>");
    } else if (freeKiB < 1 || totalKiB < 1) {
        text = usbDrive ? QStringLiteral("<unable to check removable disk size>")
                        : QStringLiteral("<unable to check tf card size>");
    } else {
        text = devName + QStringLiteral(" - ") + Util::size_human(freeKiB * 1024) + QStringLiteral(" free - ")
             + Util::size_human(totalKiB * 1024) + QStringLiteral(" total - ") + fsType;
        if (readOnly)
            text += QStringLiteral(" - <readonly>");
    }
    return QStringLiteral(" (%1)").arg(text);
}
