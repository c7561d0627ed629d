#include "install/ufsinstallstages.h"

#include "board/boardhardwareinfo.h"
#include "board/targetdevice.h"
#include "install/writtenimage.h"
#include "storage/mmc.h"
#include "storage/rkparm.h"
#include "storage/ufs.h"
#include "util/log2file.h"
#include "util/qpaths.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QThread>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

namespace {

const char k_boot_unit[] = "/dev/sdb";
const char k_loader_name[] = "idbloader.img";

// Where the boot ROM looks for the loader on the boot unit: the IDB area of
// the Rockchip layout, as on eMMC.
const qint64 k_idb_offset = RK_IDB_START * 512;

QString shown(const QString &path)
{
    return unSysPath(path);
}

bool fail(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return false;
}

bool isFile(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() && info.isFile();
}

bool bootUnitPresent(const QString &unit)
{
    return file_test(unit.toLocal8Bit().constData()) == 0;
}

// A loader built into the program for the board's SoC, in a fresh directory
// under "/tmp" that the plan owns from here on.
bool generateLoader(const QString &cpuName, UfsBootPlan *plan, QString *error)
{
    QByteArray pattern = QString(sysPath(QStringLiteral("/tmp")) + QStringLiteral("/img.XXXXXX")).toLocal8Bit();
    if (!mkdtemp(pattern.data())) {
        log2file("mkdtemp %s failed: %s\n", pattern.constData(), strerror(errno));
        return fail(error, QStringLiteral("Failed to mkdtemp."));
    }
    plan->tmpDir = QString::fromLocal8Bit(pattern);
    const QString path = plan->tmpDir + QLatin1Char('/') + QLatin1String(k_loader_name);
    const int ret = gen_idbloader_img(cpuName.toLatin1().constData(), path.toLocal8Bit().constData());
    log2file("gen_idbloader_img(%s, %s) return %d\n", qPrintable(cpuName), qPrintable(shown(path)), ret);
    switch (ret) {
    case 0:
        break;
    case -1:
        return fail(error, QStringLiteral("Dose not support this model."));
    case -2:
        return fail(error, QStringLiteral("Failed to create file %1.").arg(shown(path)));
    default:
        return fail(error, QStringLiteral("Failed to write file %1.").arg(shown(path)));
    }
    plan->loaderPath = path;
    return true;
}

// The device the job wrote the system to may still be open; opening the boot
// unit would close it without forcing its data out.
bool releaseOpenDevice(QString *error)
{
    if (mmc_fd < 0)
        return true;
    if (mmc_release() != 0) {
        log2file("releasing the system device failed before writing %s\n", k_boot_unit);
        return fail(error, QStringLiteral("Failed to flush the system device before writing %1.")
                               .arg(QLatin1String(k_boot_unit)));
    }
    return true;
}

int64_t fileSize(FILE *fp)
{
    struct stat st;
    if (fstat(fileno(fp), &st) != 0)
        return -1;
    return st.st_size;
}

} // namespace

UfsBootPlan::~UfsBootPlan()
{
    ufsRemoveTempDir(this);
}

bool ufsBoardNeedsBootLoader(const BoardHardwareInfo &board)
{
    return board.isOnboardUFS() && board.cpuName.toUpper().startsWith(QLatin1String("RK"));
}

bool ufsPrepareBootLoader(const BoardHardwareInfo &board, const QString &imagePath,
                          const QString &idbloaderName, const TargetDevice &bootDevice,
                          UfsBootPlan *plan, QString *error)
{
    // A job may run more than once; nothing of an earlier run carries over.
    ufsRemoveTempDir(plan);
    plan->isRockchipUfs = false;
    plan->bootUnit.clear();
    plan->loaderPath.clear();
    if (!ufsBoardNeedsBootLoader(board))
        return true;
    // The user may have chosen a USB drive or SD card to boot from; the UFS
    // boot unit is then left as it is.
    if (bootDevice.kind != TargetDeviceUFS && bootDevice.kind != TargetDeviceNone) {
        log2file("not boot from ufs, set is_rockchip_ufs to false.\n");
        return true;
    }
    plan->isRockchipUfs = true;
    plan->bootUnit = QLatin1String(k_boot_unit);

    const QString fromSet = sysPath(imagePath) + QLatin1Char('/') + idbloaderName;
    if (!idbloaderName.isEmpty() && isFile(fromSet)) {
        plan->loaderPath = fromSet;
    } else if (!generateLoader(board.cpuName.toUpper(), plan, error)) {
        return false;
    }
    if (!isFile(plan->loaderPath))
        return fail(error, QStringLiteral("File not found: idbloader.img."));
    log2file("ufs boot loader: %s\n", qPrintable(shown(plan->loaderPath)));
    return true;
}

bool ufsBringUp(const UfsBootPlan &plan, QString *error, const UfsPollPolicy &poll)
{
    if (!plan.isRockchipUfs)
        return true;
    // Before provisioning: the device's configuration cannot be taken back
    // when the loader turns out to be missing.
    if (!isFile(plan.loaderPath))
        return fail(error, QStringLiteral("File not found: %1, this file is required to boot system from UFS.")
                               .arg(shown(plan.loaderPath)));
    if (!bootUnitPresent(plan.bootUnit)) {
        log2file("not found %s, will call ufs_init\n", qPrintable(plan.bootUnit));
        const int ret = ufs_init(0);
        log2file("ufs_init return %d\n", ret);
        if (ret != 0)
            return fail(error, QStringLiteral("Fail to init UFS drive."));
        // The rescan only asks the kernel for the new units; the device node
        // shows up a little later.
        bool present = false;
        for (int i = 0; i < poll.attempts; i++) {
            if (i > 0)
                QThread::msleep(static_cast<unsigned long>(poll.intervalMs));
            if (bootUnitPresent(plan.bootUnit)) {
                present = true;
                break;
            }
        }
        if (!present) {
            log2file("%s still missing after ufs_init\n", qPrintable(plan.bootUnit));
            return fail(error, QStringLiteral("Fail to init UFS drive."));
        }
    }
    return true;
}

bool ufsWriteBootLoader(const UfsBootPlan &plan, const TargetDevice &bootDevice, QString *error)
{
    if (!plan.isRockchipUfs || bootDevice.kind == TargetDeviceNone)
        return true;
    const QByteArray unit = plan.bootUnit.toLocal8Bit();
    const QByteArray loader = plan.loaderPath.toLocal8Bit();
    const QString loaderShown = shown(plan.loaderPath);
    log2file("copy from: %s to %s\n", qPrintable(loaderShown), unit.constData());

    int isBlock = 0;
    int sectorSize = 0;
    const int64_t capacity = get_disk_capacity(unit.constData(), &isBlock, &sectorSize);
    if (capacity <= 0)
        return fail(error, QStringLiteral("Invalid disk size (%1) %2").arg(capacity).arg(plan.bootUnit));
    if (!releaseOpenDevice(error))
        return false;
    if (mmc_open(unit.constData()) < 0)
        return fail(error, QStringLiteral("Fail to call mmc_open on %1.").arg(plan.bootUnit));

    bool ok = false;
    QString message;
    FILE *fp = fopen(loader.constData(), "rb");
    if (!fp) {
        const int err = errno;
        log2file("fail open %s, ret = %s\n", qPrintable(loaderShown), strerror(err));
        message = QStringLiteral("Fail to open file: %1, errno: %2.")
                      .arg(loaderShown, QString::fromLocal8Bit(strerror(err)));
    } else {
        const int64_t size = fileSize(fp);
        // An empty loader would leave zeros where the boot ROM looks.
        if (size <= 0) {
            message = QStringLiteral("Cannot get file size: %1.").arg(loaderShown);
        } else if (size > RK_COPY_SIZE || k_idb_offset + RK_IDB_AREA_BYTES > capacity * 512) {
            log2file("loader %lld bytes, boot unit %lld sectors\n", static_cast<long long>(size),
                     static_cast<long long>(capacity));
            message = QStringLiteral("File too big: %1.").arg(loaderShown);
        } else {
            const int ret = write_rk_idb(unit.constData(), k_idb_offset, RK_IDB_AREA_BYTES, fp, size,
                                         loader.constData(), k_loader_name, 1, 1);
            if (ret != 0)
                log2file("write_rk_idb return %d\n", ret);
            ok = ret == 0;
            if (ok) {
                message = verifyWrittenLoader(unit.constData(), loaderShown, QStringLiteral("boot LU"));
                ok = message.isEmpty();
            }
        }
        if (fclose(fp) != 0)
            log2file("closing %s failed: %s\n", qPrintable(loaderShown), strerror(errno));
    }
    // The loader only counts once it is on the medium.
    const int released = mmc_release();
    if (ok && released != 0) {
        log2file("mmc_release %s return %d\n", unit.constData(), released);
        ok = false;
    }
    if (ok)
        return true;
    if (message.isEmpty())
        message = QStringLiteral("Failed to write image file %1 to %2.").arg(loaderShown, plan.bootUnit);
    return fail(error, message);
}

void ufsRemoveTempDir(UfsBootPlan *plan)
{
    if (plan->tmpDir.isEmpty())
        return;
    const QByteArray name = shown(plan->tmpDir).toLocal8Bit();
    if (QDir(plan->tmpDir).removeRecursively())
        log2file("cleanup tmpdir: %s\n", name.constData());
    else
        log2file("failed to remove tmpdir: %s\n", name.constData());
    plan->tmpDir.clear();
}
