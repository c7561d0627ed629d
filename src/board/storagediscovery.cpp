// Which block device is which on the running board: the onboard storage,
// the SD card, USB/SATA/NVMe drives and their sizes. Everything is read
// through the path resolver and nothing is written.
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <climits>
#include <unistd.h>

#include "board/boardhardwareinfo.h"
#include "board/boardkernel.h"
#include "util/qpaths.h"

static const char *const kUFSControllerDir = "/sys/devices/platform/2a2d0000.ufs";

static QString readSimplified(const QString &path)
{
    QFile f(sysPath(path));
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(f.readAll()).simplified();
}

// A sysfs size file: 512-byte sectors on the first line; the result in KiB.
static qint64 readSectorsAsKiB(const QString &path)
{
    QFile f(sysPath(path));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    bool ok = false;
    const qint64 sectors = QString::fromUtf8(f.readLine()).trimmed().toLongLong(&ok, 10);
    // Halving instead of ×512/1024 cannot overflow; a negative count is no size.
    if (!ok || sectors < 0)
        return 0;
    return sectors / 2;
}

bool BoardHardwareInfo::isOnboardUFS() const
{
    return onboardIsUFS || storageInterface == 1 || storageInterface == 2;
}

QString BoardHardwareInfo::getOnboardEMMCDevName() const
{
    // Rockchip kernels from 4.19 on number the eMMC controller after the SD card's.
    if (cpuName.toUpper().startsWith(QLatin1String("RK")) && boardkernel::atLeast(4, 19, true))
        return QStringLiteral("mmcblk2");
    return QStringLiteral("mmcblk1");
}

QString BoardHardwareInfo::getOnboardFlashDevName() const
{
    return isOnboardUFS() ? QStringLiteral("sda") : getOnboardEMMCDevName();
}

QString BoardHardwareInfo::getOnboardFlashDevFullName() const
{
    return QStringLiteral("/dev/") + getOnboardFlashDevName();
}

QString BoardHardwareInfo::getOnboardFlashType() const
{
    return isOnboardUFS() ? QStringLiteral("UFS Device") : QStringLiteral("eMMC Flash");
}

qint64 BoardHardwareInfo::getOnboardFlashSize() const
{
    if (!isOnboardUFS())
        return getDiskSize(getOnboardEMMCDevName());
    QString text = readSimplified(QStringLiteral(
        "/sys/bus/platform/devices/2a2d0000.ufs/geometry_descriptor/raw_device_capacity"));
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        text = text.mid(2);
    bool ok = false;
    const qint64 sectors = text.toLongLong(&ok, 16);
    if (!ok || sectors <= 0)
        return 0;
    return sectors / 2;   // 512-byte units
}

bool BoardHardwareInfo::isExistEMMC() const
{
    return QFileInfo::exists(sysPath(QStringLiteral("/dev/") + getOnboardEMMCDevName() + QStringLiteral("boot0")));
}

bool BoardHardwareInfo::isExistUFS() const
{
    return cpuName.toUpper() == QLatin1String("RK3576")
        && boardKey != QLatin1String(kRK3576NoUFSBoardKey)
        && QFileInfo(sysPath(QString::fromLatin1(kUFSControllerDir))).isDir();
}

QString BoardHardwareInfo::getUFSID() const
{
    if (storageInterface == 0 || cpuName.toUpper() != QLatin1String("RK3576")
        || boardKey == QLatin1String(kRK3576NoUFSBoardKey)
        || !QFileInfo(sysPath(QString::fromLatin1(kUFSControllerDir))).isDir())
        return QString();
    return readSimplified(QString::fromLatin1(kUFSControllerDir) + QStringLiteral("/string_descriptors/serial_number"));
}

QString BoardHardwareInfo::getSDCardDevName() const
{
    if (cpuName.toUpper() == QLatin1String("RK3399") && boardkernel::atLeast(4, 19, false))
        return QStringLiteral("mmcblk1");
    return QStringLiteral("mmcblk0");
}

QString BoardHardwareInfo::getSDCardFatPartitionFullName() const
{
    if (cpuName.toUpper() == QLatin1String("S5PV210"))
        return QStringLiteral("/dev/sdcard");
    return QStringLiteral("/dev/") + getSDCardDevName() + QStringLiteral("p1");
}

QString BoardHardwareInfo::getSDCardID() const
{
    return readSimplified(QStringLiteral("/sys/class/block/%1/device/cid").arg(getSDCardDevName()));
}

QString BoardHardwareInfo::sysfsDevicePath(const QString &name)
{
    QString path = sysPath(QStringLiteral("/sys/class/block/") + name);
    // A loop of links must not hang discovery; the kernel itself gives up
    // after 40 hops.
    for (int hop = 0; hop < 40; ++hop) {
        const QByteArray link = QFile::encodeName(path);
        char target[PATH_MAX];
        const ssize_t n = readlink(link.constData(), target, sizeof target - 1);
        if (n < 0)
            break;
        target[n] = '\0';
        const QString t = QFile::decodeName(target);
        if (t.startsWith(QLatin1Char('/')))
            path = sysPath(t);   // an absolute link in a simulated tree stays inside it
        else
            path = QFileInfo(path).absolutePath() + QLatin1Char('/') + t;
        path = QDir::cleanPath(path);
    }
    return unSysPath(QFileInfo(path).absoluteFilePath());
}

static QStringList scsiNames()
{
    QStringList names;
    for (char c = 'a'; c <= 'z'; ++c)
        names << QStringLiteral("sd") + QLatin1Char(c);
    return names;
}

QString BoardHardwareInfo::getUdiskDevName() const
{
    for (const QString &name : scsiNames()) {
        if (sysfsDevicePath(name).contains(QLatin1String(".usb")))
            return name;
    }
    return QString();
}

QString BoardHardwareInfo::getUdiskPartitionName() const
{
    return QStringLiteral("/dev/%1%2").arg(getUdiskDevName()).arg(1);
}

QStringList BoardHardwareInfo::getAllSCSIDevNames(const QString &kind) const
{
    qDebug().nospace() << "## BoardHardwareInfo::getAllSCSIDevNames " << kind;
    QStringList found;
    for (const QString &name : scsiNames()) {
        if (sysfsDevicePath(name).contains(kind))
            found << name;
    }
    return found;
}

QStringList BoardHardwareInfo::getAllUdiskDevNames() const
{
    return getAllSCSIDevNames(QStringLiteral("usb"));
}

QStringList BoardHardwareInfo::getAllM2SataDevNames() const
{
    return getAllSCSIDevNames(QStringLiteral("sata"));
}

QStringList BoardHardwareInfo::getAllNVMEDevNames() const
{
    QStringList found;
    for (int i = 0; i < 4; ++i) {
        const QString name = QStringLiteral("nvme%1n1").arg(i);
        if (sysfsDevicePath(name).contains(QLatin1String("/nvme/")))
            found << name;
    }
    return found;
}

static bool pathContains(const QString &name, const char *text)
{
    if (name.isEmpty())
        return false;
    return BoardHardwareInfo::sysfsDevicePath(name).contains(QLatin1String(text));
}

bool BoardHardwareInfo::isUFSDrive(const QString &name) const
{
    return pathContains(name, ".ufs");
}

bool BoardHardwareInfo::isSataDrive(const QString &name) const
{
    return pathContains(name, ".sata");
}

bool BoardHardwareInfo::isPCIEDrive(const QString &name) const
{
    return pathContains(name, ".pcie");
}

bool BoardHardwareInfo::isUSBDrive(const QString &name) const
{
    return pathContains(name, ".usb");
}

qint64 BoardHardwareInfo::getDiskSize(const QString &disk) const
{
    return readSectorsAsKiB(QStringLiteral("/sys/block/%1/size").arg(disk));
}

qint64 BoardHardwareInfo::getPartitionSize(const QString &disk, const QString &part) const
{
    return readSectorsAsKiB(QStringLiteral("/sys/block/%1/%2/size").arg(disk, part));
}
