#include "listings.h"

#include <QList>

#include "board/boardhardwareinfo.h"
#include "frontend/targetcandidates.h"
#include "util/util.h"

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
