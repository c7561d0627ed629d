#include "frontend/udiskpresence.h"

#include "util/qpaths.h"

#include <QFile>

int UDiskPresence::checkUDiskStatus(const QString &devName)
{
    if (devName.isEmpty())
        return 0;
    QFile f(sysPath(QStringLiteral("/proc/partitions")));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QString table = QString::fromLatin1(f.read(2048));
    if (table.contains(QStringLiteral("%1%2").arg(devName).arg(1)))
        return 2;
    return table.contains(devName) ? 1 : 0;
}
