// The overlay rebuild of the install: "dtbo.img" of a Rockchip set is
// generated anew when the root file system goes to another device than the
// boot loader, when the set brings kernel arguments, or when the overlay file
// system is switched off, so that the kernel finds its root where the install
// put it.
#include "install/sdupdatethread.h"

#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QStringList>

#include "dts/dtbo.h"
#include "util/log2file.h"
#include "util/qpaths.h"
#include "util/util.h"

namespace {

// The board's own SD slot: RK3399 kernels from 4.19 on number it 1.
QString boardSdCardName(const QString &cpu)
{
    int v[3] = {0, 0, 0};
    if (cpu == QLatin1String("RK3399") && Util::getKernelVersion(v, 3) == 0
        && (v[0] > 4 || (v[0] == 4 && v[1] > 18)))
        return QStringLiteral("mmcblk1");
    return QStringLiteral("mmcblk0");
}

// Partition `n` of a disk as the kernel names it: "sda1", "nvme0n1p1".
QString partitionPath(const QString &disk, int n)
{
    if (disk.startsWith(QLatin1String("sd")))
        return QStringLiteral("/dev/%1%2").arg(disk).arg(n);
    return QStringLiteral("/dev/%1p%2").arg(disk).arg(n);
}

} // namespace

bool SDUpdateThread::rebuildOverlay()
{
    const QString dtbo = m_config.imagePath + "/dtbo.img";
    const QString pristine = m_config.imagePath + "/dtbo.img.bak";
    // The set's own image is kept once, before the first rebuild overwrites
    // it; later installs leave that copy alone.
    if (!QFileInfo::exists(sysPath(pristine)) && QFileInfo(sysPath(dtbo)).isFile()) {
        if (!QFile::copy(sysPath(dtbo), sysPath(pristine)))
            log2file("failed to backup dtbo.img.\n");
    }

    const QString cpu = m_config.getCPUNameUpper();
    const bool useMainDts = cpu != QLatin1String("RK3399") && cpu != QLatin1String("RK3328")
        && !Util::searchStringInFile(sysPath(dtbo), QStringLiteral("console=ttyFIQ0"));

    QString rootDev;
    QString dataDev;
    const bool splitInstall = m_plans[1].devicePath[0] && m_systemDevice.kind != TargetDeviceNone;
    if (splitInstall) {
        // A card written in a USB reader boots from the board's own slot.
        const QString disk = m_systemDevice.kind == TargetDeviceSDCard ? boardSdCardName(cpu)
                                                                       : m_systemDevice.devName;
        rootDev = partitionPath(disk, 1);
        dataDev = partitionPath(disk, 2);
    }

    QMap<QString, QString> userArgs;
    QStringList userFlags;
    const QStringList tokens = m_config.bootArgsExt.split(QRegularExpression(QStringLiteral("\\s+")),
                                                          Qt::SkipEmptyParts);
    for (const QString &token : tokens) {
        const int eq = token.indexOf(QLatin1Char('='));
        if (eq > 0)
            userArgs.insert(token.left(eq), token.mid(eq + 1));
        else
            userFlags.append(token);
    }
    if (!userArgs.contains(QStringLiteral("rootfstype"))) {
        for (const QString &fs : m_config.rootfsFsTypes) {
            if (fs.compare(QLatin1String("btrfs"), Qt::CaseInsensitive) == 0) {
                userArgs.insert(QStringLiteral("rootfstype"), QStringLiteral("auto"));
                break;
            }
        }
    }
    if (m_bootDevice.kind != TargetDeviceNone && !m_bootDevice.devName.isEmpty()) {
        const QString bootdev = m_bootDevice.kind == TargetDeviceSDCard ? "/dev/" + boardSdCardName(cpu)
                                                                         : m_bootDevice.getFullDevName();
        userArgs.insert(QStringLiteral("bootdev"), bootdev);
    }
    const bool noDataArg = m_overlayfsDisabled && QFileInfo::exists(sysPath(m_config.imagePath + "/userdata.img"));

    log2file("rebuild dtbo.img: cpu %s, root '%s', data '%s', main dts %d, no data arg %d\n", qPrintable(cpu),
             qPrintable(rootDev), qPrintable(dataDev), useMainDts ? 1 : 0, noDataArg ? 1 : 0);
    const int ret = build_dtbo_img(cpu, dtbo, useMainDts, rootDev, dataDev, userArgs, userFlags, noDataArg);
    if (ret != 0)
        return fail(QStringLiteral("Failed to create dtbo.img, ret code: %1.").arg(ret));
    return true;
}
