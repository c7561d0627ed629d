#include "listings.h"

#include <QList>
#include <QStringList>

#include "board/boardhardwareinfo.h"
#include "frontend/imagesetscanner.h"
#include "frontend/targetcandidates.h"
#include "startup/globals.h"
#include "util/util.h"

int listImageSets(FILE *out)
{
    QStringList mounts;
    for (const QString &mount : {gUDiskPath, gSDCardPath})
        if (Util::isMountPoint(mount) == 1)
            mounts << mount;
    const QList<OSConfig> sets = ImageSetScanner().scan(mounts);
    for (const OSConfig &os : sets) {
        qint64 total = 0;
        for (qint64 size : os.imageFileSizes)
            total += size;
        const QString line = QStringLiteral("%1 %2 %3")
                                 .arg(ImageSetScanner::autoStartPathOf(os), -36)
                                 .arg(os.osType == RawImage ? QStringLiteral("raw image") : os.title, -16)
                                 .arg(Util::size_human(total), 8);
        fprintf(out, "%s\n", line.toLocal8Bit().constData());
    }
    if (sets.isEmpty())
        fprintf(out, "No image set for this board on %s.\n",
                mounts.isEmpty() ? "the media: neither /mnt/udisk nor /mnt/sdcard is mounted"
                                 : mounts.join(QStringLiteral(" or ")).toLocal8Bit().constData());
    return static_cast<int>(sets.size());
}

int listTargetDevices(FILE *out)
{
    // The system device's choice is the longer one (it adds SATA and NVMe
    // drives); a device also in the boot device's choice can be either.
    const QList<TargetDevice> boot = TargetCandidates::candidates(TargetCandidates::BootDevice);
    const QList<TargetDevice> system = TargetCandidates::candidates(TargetCandidates::SystemDevice);
    int count = 0;
    for (const TargetDevice &dev : system) {
        if (dev.isNone())
            continue;
        const qint64 kib = gCurrentBoardInfo ? gCurrentBoardInfo->getDiskSize(dev.devName) : 0;
        const QString line = QStringLiteral("%1 %2 %3  %4 %5")
                                 .arg(dev.devName, -12)
                                 .arg(dev.kindName(), -5)
                                 .arg(Util::size_human(kib * 1024), 8)
                                 .arg(boot.contains(dev) ? QStringLiteral("boot, system") : QStringLiteral("system"), -12)
                                 .arg(dev.model);
        fprintf(out, "%s\n", line.trimmed().toLocal8Bit().constData());
        ++count;
    }
    if (count == 0)
        fprintf(out, "No device to install to.\n");
    fprintf(out, "none         as system device: write the boot device only\n");
    return count;
}
