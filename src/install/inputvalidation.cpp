// Everything about the image set that can be checked without writing is
// checked here, after the devices were measured and before the low format,
// the first table or the first image touches a device: maps, partitions
// against the table and the loader area, image sizes, sparse images chunk
// by chunk, and images that are the target device itself. A refused set
// leaves every device as it was.
#include "install/sdupdatethread.h"

#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/stat.h>

#include "install/backupmanifestcheck.h"
#include "install/partmapline.h"
#include "storage/file_ptr.h"
#include "storage/imagewriter.h"
#include "storage/mmc.h"
#include "storage/parttable.h"
#include "storage/rkparm.h"
#include "util/log2file.h"
#include "util/qpaths.h"

namespace {

QString errorText(int err)
{
    if (err == EINVAL)
        return QStringLiteral("not a regular file or block device");
    return QString::fromLocal8Bit(strerror(err));
}

bool takesSparse(const partinfo &pt)
{
    return pt.in_mbr || (pt.fs_type & RK_FSTYPE_PARAMETER_PART);
}

} // namespace

bool SDUpdateThread::validateInputs()
{
    if (m_useRawFlow)
        return validateRawImage() && !failIfCancelled();
    if (needsParameterRewrite() && !rewriteParameterFiles())
        return false;
    for (int x = 0; x < 2; ++x) {
        if (!device_plan_has_device(&m_plans[x]))
            continue;
        // Only a rewritten Rockchip parameter file gives the system device
        // a map of its own.
        if (!m_plans[x].mapFile[0])
            return fail(QStringLiteral("No partition map for the system device %1: this image set cannot be "
                                       "installed across two devices.").arg(m_plans[x].devicePath));
        if (!loadPlan(m_plans[x], x) || !validatePlan(m_plans[x]))
            return false;
    }
    return !failIfCancelled();
}

bool SDUpdateThread::refuseTargetAsImage(const QString &image)
{
    const QByteArray path = sysPath(image).toLocal8Bit();
    for (const DevicePlan &plan : m_plans) {
        if (!device_plan_has_device(&plan))
            continue;
        const std::string dev = imgsmith::sysPath(plan.devicePath);
        if (same_file(path.constData(), dev.c_str()))
            return fail(QStringLiteral("Cannot install %1: it is the target device %2.").arg(image, plan.devicePath));
    }
    return true;
}

bool SDUpdateThread::validateRawImage()
{
    const DevicePlan &plan = m_plans[0];
    const QString image = m_rawImagePath;
    int err = 0;
    file_ptr fp(open_input_file(sysPath(image).toLocal8Bit().constData(), &err));
    if (!fp)
        return fail(QStringLiteral("Fail to open file: %1, errno: %2.").arg(image, errorText(err)));
    struct stat st;
    if (fstat(fileno(fp.get()), &st) != 0 || st.st_size <= 0)
        return fail(QStringLiteral("Cannot get file size: %1.").arg(image));
    const int64_t deviceBytes = plan.capacity * 512;
    if (st.st_size > deviceBytes)
        return fail(QStringLiteral("File too big: %1.").arg(image));
    const QString manifestError = checkBackupManifest(image);
    if (!manifestError.isEmpty())
        return fail(manifestError);
    // A compressed image shows its size only when expanded: the writer
    // stops it at the end of the device instead.
    if (image_compression_of(image.toLocal8Bit().constData()) != IMAGE_RAW)
        return true;
    std::string why;
    const int ret = sparse_image_check(fp.get(), st.st_size, deviceBytes, &why);
    if (ret == -ENOMEM)
        return fail(QStringLiteral("File too big: %1.").arg(image));
    if (ret < 0)
        return fail(QStringLiteral("Invalid image file %1: %2.").arg(image, QString::fromStdString(why)));
    return true;
}

bool SDUpdateThread::validatePlan(DevicePlan &plan)
{
    const QString mapName = QFileInfo(QString::fromLocal8Bit(plan.mapFile)).fileName();
    const std::string layout = device_plan_check_layout(&plan);
    if (!layout.empty()) {
        log2file("%s\n", layout.c_str());
        return fail(QStringLiteral("Invalid partition layout, please check %1: %2.")
                        .arg(mapName, QString::fromStdString(layout)));
    }
    if (!checkTable(plan))
        return false;
    int named = 0;
    int found = 0;
    for (int i = 0; i < plan.partCount; ++i) {
        const partinfo &pt = plan.map_parts[i];
        if (!pt.image[0])
            continue;
        const QString image = unSysPath(QString::fromLocal8Bit(pt.image));
        const bool loader = pt.fs_type & (RK_FSTYPE_IDB | RK_FSTYPE_PARM);
        if (!loader)
            ++named;
        if (m_excludedFiles.contains(QFileInfo(image).fileName())) {
            found += loader ? 0 : 1;
            continue;
        }
        int err = 0;
        file_ptr fp(open_input_file(pt.image, &err));
        if (!fp && err == EINVAL)
            return fail(QStringLiteral("Fail to open file: %1, errno: %2.").arg(image, errorText(err)));
        if (!fp)
            continue;   // written as "file not found, continue"
        if (!loader)
            ++found;
        if (!refuseTargetAsImage(image) || !validateImage(plan, i, fp.get(), image))
            return false;
    }
    // Nothing of the system would reach the device: only a table, or only
    // the loader, and the job would still end in success.
    if (found == 0 && (named > 0 || plan.tableKind != TABLE_KIND_MBR))
        return fail(QStringLiteral("No image file listed in %1 was found: nothing to install.").arg(mapName));
    return true;
}

// The table builders check the layout before their first write: run them
// against a writer that writes nothing, with the values the real call gets.
bool SDUpdateThread::checkTable(const DevicePlan &plan)
{
    const part_write_fn dryRun = [](const char *, int64_t, int64_t length, const void *) { return length; };
    int ret = 0;
    if (plan.tableKind == TABLE_KIND_GPT && plan.partCount > 1) {
        ret = gpt_part_table_make(plan.devicePath, plan.capacity, plan.sectorSize, plan.map_parts + 1,
                                  plan.partCount - 1, dryRun);
        if (ret != 0)
            return fail(QStringLiteral("Fail make gpt-part table, ret = %1.").arg(ret));
    } else if (plan.tableKind == TABLE_KIND_MBR && plan.mbrCount > 0) {
        ret = disk_part_table_make(plan.devicePath, plan.capacity, plan.mbr, plan.mbrCount, dryRun);
        if (ret < 0)
            return fail(QStringLiteral("Fail make mbr-part table, ret = %1.").arg(ret));
    }
    return true;
}

bool SDUpdateThread::validateImage(const DevicePlan &plan, int i, FILE *fp, const QString &image)
{
    const partinfo &pt = plan.map_parts[i];
    struct stat st;
    if (fstat(fileno(fp), &st) != 0)
        return fail(QStringLiteral("Cannot get file size: %1.").arg(image));
    const int64_t areaBytes = device_plan_part_sectors(&plan, i) * 512;
    int64_t limit = areaBytes;
    // The loader and parameter writers fill fixed areas with copies of
    // one file.
    const bool idb = pt.fs_type & RK_FSTYPE_IDB;
    const bool parm = !idb && (pt.fs_type & RK_FSTYPE_PARM);
    if ((idb && areaBytes < RK_IDB_AREA_BYTES) || (parm && areaBytes < RK_PARM_AREA_BYTES))
        return fail(QStringLiteral("Invalid partition layout, please check %1: partition %2 is smaller than the "
                                   "area its copies need.")
                        .arg(QFileInfo(QString::fromLocal8Bit(plan.mapFile)).fileName(),
                             QString::fromLocal8Bit(pt.name, static_cast<int>(strnlen(pt.name, sizeof(pt.name))))));
    if (idb)
        limit = qMin<int64_t>(limit, RK_COPY_SIZE);
    else if (parm)
        limit = qMin<int64_t>(limit, RK_PARM_MAX_TEXT);
    if (imageBytesOnDevice(pt, fp, st.st_size) > limit)
        return fail(QStringLiteral("Image file %1 too big.").arg(image));
    if (!takesSparse(pt))
        return true;
    std::string why;
    const int ret = sparse_image_check(fp, st.st_size, areaBytes, &why);
    if (ret == -ENOMEM)
        return fail(QStringLiteral("Image file %1 too big.").arg(image));
    if (ret < 0)
        return fail(QStringLiteral("Invalid image file %1: %2.").arg(image, QString::fromStdString(why)));
    return true;
}

bool SDUpdateThread::lowFormatDevices()
{
    if (!m_lowFormat)
        return true;
    for (DevicePlan &plan : m_plans) {
        if (device_plan_has_device(&plan) && !lowFormatDevice(plan))
            return false;
    }
    return true;
}
