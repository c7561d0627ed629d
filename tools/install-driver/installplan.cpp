#include "installplan.h"

#include <QDir>
#include <QFileInfo>

#include "board/boardhardwareinfo.h"
#include "frontend/targetcandidates.h"
#include "util/qpaths.h"
#include "util/util.h"

namespace {

QByteArray text(const QString &s)
{
    return s.toLocal8Bit();
}

// Letter case matters, as in the media scan and in the engine, which picks
// the decoder by the same suffixes: "DISK.GZ" accepted here would be written
// to the device still compressed.
bool isRawImageName(const QString &name)
{
    return name.endsWith(QLatin1String(".raw")) || name.endsWith(QLatin1String(".gz"))
        || name.endsWith(QLatin1String(".xz")) || name.endsWith(QLatin1String(".zst"))
        || name.endsWith(QLatin1String(".img"));
}

bool isNoDevice(const QString &name)
{
    return name == QLatin1String("none") || name == QLatin1String("null");
}

} // namespace

bool InstallPlan::loadImageSet(const QString &setPath, QString &error)
{
    m_setPath = QDir::cleanPath(setPath);
    const QFileInfo info(sysPath(m_setPath));
    if (!info.exists()) {
        error = m_setPath + QStringLiteral(": not found");
        return false;
    }
    if (info.isFile()) {
        if (!isRawImageName(info.fileName())) {
            error = m_setPath + QStringLiteral(": not an image set (a raw image file ends in .raw, .gz, .xz, .zst or .img)");
            return false;
        }
        m_config = OSConfig(QFileInfo(m_setPath).path(), info.fileName());
    } else if (info.isDir()) {
        const QDir dir(info.filePath());
        const QStringList names = dir.entryList(QDir::Files, QDir::Name);
        const bool hasMap = names.contains(QLatin1String("partmap.txt")) || names.contains(QLatin1String("parameter.txt"));
        QStringList raw;
        for (const QString &n : names)
            if (isRawImageName(n))
                raw << n;
        // A directory without a partition map is a raw image set when it
        // holds exactly one raw image, as the scan of the media takes it.
        if (hasMap)
            m_config = OSConfig(m_setPath, names);
        else if (raw.size() == 1)
            m_config = OSConfig(m_setPath, raw.first());
        if (!m_config.isValid) {
            error = m_setPath + (hasMap ? QStringLiteral(": not a valid image set (its partition map or boot loader is missing or unusable)")
                                        : QStringLiteral(": not an image set (no partmap.txt, no parameter.txt, "
                                                         "and not exactly one raw image file)"));
            return false;
        }
    } else {
        error = m_setPath + QStringLiteral(": not a directory or a file");
        return false;
    }
    if (!m_config.isMatchBoard()) {
        error = m_setPath + QStringLiteral(": made for other boards (%1), not for %2")
                                .arg(m_config.requireBoards.join(QStringLiteral(", ")),
                                     gCurrentBoardInfo ? gCurrentBoardInfo->boardName : QStringLiteral("this board"));
        return false;
    }
    return true;
}

bool InstallPlan::setDevices(const QString &bootName, const QString &systemName, QString &error)
{
    m_boot = deviceFromName(bootName);
    // As in the install preview: the system goes where the boot device is
    // unless another device (or none) is asked for.
    m_system = systemName.isEmpty() ? m_boot : deviceFromName(systemName);
    for (const TargetDevice *dev : {&m_boot, &m_system}) {
        if (!dev->isNone() && !QFileInfo::exists(sysPath(dev->getFullDevName()))) {
            error = dev->getFullDevName() + QStringLiteral(": no such device");
            return false;
        }
    }
    if (m_boot.isNone() && m_system.isNone()) {
        error = QStringLiteral("no device to write: boot and system device are both none");
        return false;
    }
    return true;
}

bool InstallPlan::splitsSystemPartitions() const
{
    // The job gives the system device partitions of their own only for sets
    // whose overlay image names the devices.
    return m_config.osType != RawImage && QFileInfo::exists(sysPath(m_config.imagePath + QStringLiteral("/dtbo.img")));
}

void InstallPlan::print(FILE *out, const QStringList &excluded, bool lowFormat) const
{
    qint64 total = 0;
    for (qint64 size : m_config.imageFileSizes)
        total += size;
    const QString kind = m_config.osType == RawImage ? QStringLiteral("raw image") : m_config.title;
    fprintf(out, "Image set:     %s (%s, %s)\n", text(m_setPath).constData(), text(kind).constData(),
            text(Util::size_human(total)).constData());
    fprintf(out, "Boot device:   %s\n", text(describe(m_boot)).constData());
    if (m_system.isNone())
        fprintf(out, "System device: none%s\n",
                splitsSystemPartitions() ? " - the system partitions will not be written" : "");
    else if (m_system.devName == m_boot.devName)
        fprintf(out, "System device: the boot device\n");
    else
        fprintf(out, "System device: %s\n", text(describe(m_system)).constData());
    if (lowFormat)
        fprintf(out, "Low format:    the target devices are erased first\n");
    for (int i = 0; i < m_config.imageFiles.size(); ++i) {
        const QString &name = m_config.imageFiles[i];
        const QString size = i < m_config.imageFileSizes.size() ? Util::size_human(m_config.imageFileSizes[i]) : QString();
        fprintf(out, "  %-24s %10s%s\n", text(name).constData(), text(size).constData(),
                excluded.contains(name) ? "  (excluded)" : "");
    }
}

TargetDevice InstallPlan::deviceFromName(const QString &name)
{
    if (name.isEmpty() || isNoDevice(name))
        return TargetDevice();
    // A device the install preview offers comes with its kind and model as
    // the preview sees them (a card reader is not a USB disk).
    for (const TargetDevice &dev : TargetCandidates::candidates(TargetCandidates::SystemDevice))
        if (dev.devName == name)
            return dev;
    const BoardHardwareInfo *board = gCurrentBoardInfo;
    int kind = TargetDeviceUSBDisk;
    if (name.startsWith(QLatin1String("mmcblk")))
        kind = TargetDeviceEMMC;
    else if (name.startsWith(QLatin1String("nvme")))
        kind = TargetDeviceNVMe;
    else if (board && board->isUFSDrive(name))
        kind = TargetDeviceUFS;
    else if (board && board->isSataDrive(name))
        kind = TargetDeviceSATA;
    return TargetDevice(kind, name);
}

QString InstallPlan::describe(const TargetDevice &dev)
{
    if (dev.isNone())
        return QStringLiteral("none");
    const qint64 kib = gCurrentBoardInfo ? gCurrentBoardInfo->getDiskSize(dev.devName) : 0;
    return QStringLiteral("%1 (%2, %3)").arg(dev.getFullDevName(), dev.kindName(), Util::size_human(kib * 1024));
}
