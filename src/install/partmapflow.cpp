// The partition-map flow: every device plan is parsed and checked first,
// then each device gets its table and its partition images in map order.
#include "install/sdupdatethread.h"

#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

#include "install/installevents.h"
#include "install/partmapline.h"
#include "storage/imagewriter.h"
#include "storage/mmc.h"
#include "storage/parttable.h"
#include "storage/rkparm.h"
#include "util/log2file.h"
#include "util/qpaths.h"

namespace {

const char k_dashes[] = "----------------------------------------------------------------\n";

using part_writer = int (*)(const char *, int64_t, int64_t, FILE *, int64_t, const char *, const char *, int, int);

part_writer choose_writer(const partinfo &pt)
{
    if (pt.in_mbr || (pt.fs_type & RK_FSTYPE_PARAMETER_PART))
        return write_image;
    if (pt.fs_type & (PARTMAP_TYPE_2ND | PARTMAP_TYPE_BOOT))
        return write_2nd_boot;
    if (pt.fs_type & RK_FSTYPE_IDB)
        return write_rk_idb;
    if (pt.fs_type & RK_FSTYPE_PARM)
        return write_rk_parm;
    return write_raw;
}

} // namespace

// Every plan was parsed and checked by validateInputs() before the first
// byte is written, so that a bad system-device map cannot leave a
// half-installed boot device.
bool SDUpdateThread::runPartitionMapFlow()
{
    for (int x = 0; x < 2; ++x) {
        DevicePlan &plan = m_plans[x];
        if (!device_plan_has_device(&plan))
            continue;
        if (failIfCancelled())
            return false;
        if (mmc_open(plan.devicePath) < 0)
            return fail(QStringLiteral("Fail to call mmc_open on %1.").arg(plan.devicePath));
        if (!writePartitionTable(plan, x) || !writePartitions(plan, x))
            return false;
        if (mmc_release() < 0)
            return fail(QStringLiteral("Failed to flush the written data to %1.").arg(plan.devicePath));
    }
    return true;
}

bool SDUpdateThread::loadPlan(DevicePlan &plan, int index)
{
    const QString mapFile = QString::fromLocal8Bit(plan.mapFile);
    int err = 0;
    FILE *map = open_input_file(sysPath(mapFile).toLocal8Bit().constData(), &err);
    if (!map) {
        const QString text = err == EINVAL ? QStringLiteral("not a regular file or block device")
                                           : QString::fromLocal8Bit(strerror(err));
        log2file("fail open %s, ret = %s\n", plan.mapFile, qPrintable(text));
        return fail(QStringLiteral("Fail to open file: %1, errno: %2.").arg(mapFile, text));
    }
    DevicePlanOptions options;
    options.dropUserdata = m_overlayfsDisabled && !isAndroidLike();
    log2file("devices[%d]:\n", index);
    std::string why;
    int count = device_plan_parse(&plan, map, options, &why);
    fclose(map);
    const QString mapName = QFileInfo(mapFile).fileName();
    if (count < 0)
        log2file("%s: %s\n", plan.mapFile, why.c_str());
    if (count == DEVICE_PLAN_TOO_MANY)
        return fail(QStringLiteral("Too many partitions in %1: at most %2 are supported.").arg(mapName).arg(DEVICE_PLAN_MAX_PARTS));
    if (count == DEVICE_PLAN_TOO_MANY_MBR)
        return fail(QStringLiteral("Too many MBR partitions in %1: at most %2 are supported.").arg(mapName).arg(MBR_MAX_PARTITIONS));
    if (count < 0)
        return fail(QStringLiteral("Invalid partition layout, please check %1: %2.").arg(mapName, QString::fromStdString(why)));
    std::string misfit = device_plan_check_fits(&plan);
    if (!misfit.empty()) {
        log2file("%s\n", misfit.c_str());
        return fail(QStringLiteral("Invalid partition layout, please check %1: %2.").arg(mapName, QString::fromStdString(misfit)));
    }
    return true;
}

bool SDUpdateThread::writePartitionTable(DevicePlan &plan, int index)
{
    const char *dev = plan.devicePath;
    int ret = 0;
    bool written = false;
    switch (plan.tableKind) {
    case TABLE_KIND_GPT:
        if (plan.partCount > 1) {
            // The first entry is the IDB loader area, which has no GPT entry.
            log2file("create new GPT %d:\n", plan.partCount - 1);
            ret = gpt_part_table_make(dev, plan.capacity, plan.sectorSize, plan.map_parts + 1,
                                      plan.partCount - 1, mmc_write);
            if (ret != 0)
                return fail(QStringLiteral("Fail make gpt-part table, ret = %1.").arg(ret));
            written = true;
        }
        break;
    case TABLE_KIND_EMPTY_GPT:
        if (plan.partCount > 1) {
            log2file("create empty GPT:\n");
            ret = gpt_part_table_make(dev, plan.capacity, plan.sectorSize, plan.map_parts, 0, mmc_write);
            if (ret != 0)
                return fail(QStringLiteral("Fail to create empty GPT, ret = %1.").arg(ret));
            written = true;
        }
        break;
    default:
        if (plan.mbrCount > 0) {
            log2file("create new MBR %d:\n", plan.mbrCount);
            for (int i = 0; i < plan.mbrCount; ++i)
                log2file("[MBR.%d] start : 0x%010llx size 0x%010llx \n", i,
                         static_cast<unsigned long long>(plan.mbr[i].start) * 512,
                         static_cast<unsigned long long>(plan.mbr[i].size) * 512);
            ret = disk_part_table_make(dev, plan.capacity, plan.mbr, plan.mbrCount, mmc_write);
            if (ret < 0)
                return fail(QStringLiteral("Fail make mbr-part table, ret = %1.").arg(ret));
            written = true;
        }
        break;
    }
    if (written) {
        int rr = mmc_rrpart(dev);
        if (rr < 0)
            log2file("devices[%d]: re-reading the partition table of %s failed (%d)\n", index, dev, rr);
    }
    return true;
}

bool SDUpdateThread::writePartitions(DevicePlan &plan, int index)
{
    log2file("%s", k_dashes);
    log2file("copy from: %s to %s\n", plan.imageDir, plan.devicePath);
    int width = 0;
    for (int i = 0; i < plan.partCount; ++i)
        width = qMax(width, static_cast<int>(strlen(plan.map_parts[i].image)));
    for (int i = 0; i < plan.partCount; ++i) {
        if (failIfCancelled())
            return false;
        if (!writePartition(plan, index, i, width))
            return false;
    }
    return true;
}

bool SDUpdateThread::writePartition(DevicePlan &plan, int index, int i, int pathWidth)
{
    partinfo &pt = plan.map_parts[i];
    const QString image = unSysPath(QString::fromLocal8Bit(pt.image));
    const QString name = QString::fromLocal8Bit(pt.name, strnlen(pt.name, sizeof(pt.name)));
    const int count = plan.partCount;
    const char *tag = pt.in_mbr ? "MBR" : "RAW";
    reportProgress(image, name, 0, count, i + 1);

    if (pt.size == 0)
        pt.size = device_plan_part_sectors(&plan, i);

    if (!pt.image[0]) {
        log2file("devices[%d].map_parts[%d] pt->image is empty, continue ...\n", index, i);
        reportProgress(image, name, 100, count, i + 1);
        return true;
    }
    if (m_excludedFiles.contains(QFileInfo(image).fileName())) {
        log2file("[%s.%d] ", tag, i);
        log2file("part.%d : %11lld %-*s ", i, static_cast<long long>(pt.start) * 512, pathWidth, pt.image);
        log2file(" : skip.\n");
        reportProgress(image, name, 100, count, i + 1);
        return true;
    }
    FILE *fp = open_input_file(sysPath(image).toLocal8Bit().constData(), nullptr);
    if (!fp) {
        log2file("devices[%d].map_parts[%d] %s file not found, continue ...\n", index, i, pt.image);
        reportProgress(image, name, 100, count, i + 1);
        return true;
    }
    struct stat st;
    if (fstat(fileno(fp), &st) != 0) {
        fclose(fp);
        return fail(QStringLiteral("Cannot get file size: %1.").arg(image));
    }
    const int64_t fileSize = st.st_size;
    const int64_t areaBytes = pt.size * 512;
    int64_t needed = fileSize;
    if (pt.fs_type & (PARTMAP_TYPE_2ND | PARTMAP_TYPE_BOOT))
        needed = imageBytesOnDevice(pt, fp, fileSize);
    if (areaBytes < needed) {
        log2file("copy part.%d start : 0x%llx size 0x%llx (0x%llx) more than capacity %llx : %s\n", i,
                 static_cast<unsigned long long>(pt.start) * 512, static_cast<unsigned long long>(areaBytes),
                 static_cast<unsigned long long>(needed), static_cast<unsigned long long>(plan.capacity) * 512,
                 pt.image);
        fclose(fp);
        return fail(QStringLiteral("Image file %1 too big.").arg(image));
    }
    log2file(" [%s.%2d]", tag, i);
    log2file(": %8lld KB | %-*s ", static_cast<long long>(qMax<int64_t>(1, fileSize / 1024)), pathWidth, pt.image);

    const QByteArray imageArg = image.toLocal8Bit();
    const QByteArray nameArg = name.toLocal8Bit();
    part_writer writer = choose_writer(pt);
    int ret = writer(plan.devicePath, pt.start * 512, areaBytes, fp, fileSize, imageArg.constData(),
                     nameArg.constData(), count, i + 1);
    fclose(fp);
    if (ret < 0) {
        log2file("write of %s returned %d\n", pt.image, ret);
        return failWrite(QStringLiteral("Failed to write image file: %1.").arg(image));
    }
    reportProgress(image, name, 100, count, i + 1);
    if (!finishImage(image, name, plan.devicePath, fileSize, count, i + 1))
        return false;
    log2file(" : done.\n");
    return true;
}

// An S5P loader that does not carry its own header gets one in front.
int64_t SDUpdateThread::imageBytesOnDevice(const partinfo &pt, FILE *fp, int64_t fileSize)
{
    if (!(pt.fs_type & (PARTMAP_TYPE_2ND | PARTMAP_TYPE_BOOT)))
        return fileSize;
    uint8_t head[S5P_NSIH_SIZE];
    if (fileSize < static_cast<int64_t>(S5P_NSIH_SIZE) || fread(head, 1, sizeof(head), fp) != sizeof(head)) {
        rewind(fp);
        return fileSize;
    }
    rewind(fp);
    return s5p_has_nsih(head) ? fileSize : fileSize + static_cast<int64_t>(S5P_NSIH_SIZE);
}
