#include "backup/udiskstatus.h"

#include <QFile>
#include <QStringList>

#include <cstring>

#include "backup/dffreespace.h"
#include "board/boardhardwareinfo.h"
#include "startup/globals.h"
#include "util/qpaths.h"
#include "util/util.h"

const char *const UDISK_FREESPACE_TMP_FILENAME = "/tmp/udiskfreesize";

UDiskStatus gUdiskStatus;

UDiskStatus::UDiskStatus()
{
    m_fsType[0] = '\0';
    m_mountOptions[0] = '\0';
}

int UDiskStatus::checkUDiskStatus(const QString &dev)
{
    if (dev.isEmpty())
        return 0;
    QFile f(sysPath(QStringLiteral("/proc/partitions")));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QString text = QString::fromLocal8Bit(f.read(2048));
    if (text.contains(QStringLiteral("%1%2").arg(dev).arg(1)))
        return 2;
    return text.contains(dev) ? 1 : 0;
}

bool UDiskStatus::isReadOnlyOptions(const QString &options)
{
    return Util::isReadOnlyMountOptions(options);
}

QString UDiskStatus::devName() const
{
    return gCurrentBoardInfo ? gCurrentBoardInfo->getUdiskDevName() : QString();
}

void UDiskStatus::reCalcUdiskStatus()
{
    const QString dev = devName();
    const int status = checkUDiskStatus(dev);
    m_present = status > 0;
    m_hasPartition = status > 1;
    m_mounted = Util::isMountPoint(gUDiskPath) == 1;
    m_fsType[0] = '\0';
    m_mountOptions[0] = '\0';
    m_readOnly = false;
    if (m_mounted) {
        Util::getMountPointStatus(gUDiskPath, m_fsType, sizeof m_fsType, m_mountOptions, sizeof m_mountOptions,
                                  nullptr, nullptr);
        m_readOnly = isReadOnlyOptions(QString::fromLocal8Bit(m_mountOptions));
    }
    m_totalSize = gCurrentBoardInfo && !dev.isEmpty() ? gCurrentBoardInfo->getDiskSize(dev) : 0;
    m_availableSize = 0;
}

void UDiskStatus::reCalcAvailableSize()
{
    if (!m_present || !m_mounted || !m_hasPartition)
        return;
    qint64 kib = 0;
    if (!readDfFreeSpaceKiB(QStringLiteral("/dev/%1%2").arg(devName()).arg(1),
                            QString::fromLatin1(UDISK_FREESPACE_TMP_FILENAME), &kib))
        kib = 0;
    m_availableSize = kib;
}
