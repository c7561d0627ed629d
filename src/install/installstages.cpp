// Preparation, input and device checks, low format and the classification
// of raw images: the stages before anything is laid out.
#include "install/sdupdatethread.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <cstring>
#include <string>

#include "install/installevents.h"
#include "install/rocknixfinish.h"
#include "install/ufsinstallstages.h"
#include "storage/imagewriter.h"
#include "storage/mmc.h"
#include "storage/parttable.h"
#include "util/debugmode.h"
#include "util/log2file.h"
#include "util/qpaths.h"

namespace {

const char k_separator[] = "----------------------------------------------------------------\n";

// False when the path does not fit: a cut path would name another file.
bool copy_path(char *dst, size_t size, const QString &path)
{
    const int n = snprintf(dst, size, "%s", path.toLocal8Bit().constData());
    return n >= 0 && static_cast<size_t>(n) < size;
}

QByteArray local(const QString &s)
{
    return s.toLocal8Bit();
}

bool is_power_of_two(int v)
{
    return v > 0 && (v & (v - 1)) == 0;
}

// Counts the lines that mark a Rockchip parameter file among the first 101
// lines that are not comments. Bounded in bytes as well, since the file is
// usually a multi-gigabyte binary image. *binary tells whether those lines
// hold a NUL byte: such a file is never a parameter file, whatever text
// it carries (a firmware package holds its parameter text inside).
int count_parameter_markers(FILE *fp, bool *binary)
{
    std::string line;
    int lines = 0;
    int markers = 0;
    long bytes = 0;
    *binary = false;
    int c = 0;
    while (lines < 101 && bytes < 1024 * 1024 && c != EOF) {
        line.clear();
        while ((c = getc(fp)) != EOF && line.size() < 4095) {
            line.push_back(static_cast<char>(c));
            if (c == '\n')
                break;
        }
        bytes += static_cast<long>(line.size());
        if (line.empty())
            break;
        if (line.find('\0') != std::string::npos)
            *binary = true;
        if (line[0] == '#')
            continue;
        ++lines;
        const auto has = [&line](const char *s) { return line.find(s) != std::string::npos; };
        if (has("MANUFACTURER:") || has("FIRMWARE_VER:") || has("MACHINE_MODEL:") || (has("TYPE:") && has("GPT"))
            || (has("CMDLINE:") && has("mtdparts")))
            ++markers;
    }
    return markers;
}

} // namespace

bool SDUpdateThread::prepare()
{
    gui_setup_progress_report_function(
        "sdupdate_thread",
        [this](bool erasing, const std::string &image, const std::string &part, int percent, int count, int index) {
            // The copy never reports an erase; the flag is handed on as is.
            if (erasing)
                postProgressMessage(true, unSysPath(QString::fromStdString(image)), QString::fromStdString(part),
                                    percent, count, index);
            else
                reportProgress(unSysPath(QString::fromStdString(image)), QString::fromStdString(part), percent,
                               count, index);
        },
        [](const std::string &image, const std::string &part, int64_t done, int64_t total, double ms) {
            postSpeedMessage(unSysPath(QString::fromStdString(image)), QString::fromStdString(part),
                             done, total, ms);
        });

    if (m_config.isRocknix) {
        const QString files[] = {m_config.imagePath + "/" + m_config.os_rocknix_uboot_bin,
                                 m_config.imagePath + "/" + m_config.os_rocknix_dtb};
        for (const QString &f : files) {
            QFileInfo fi(sysPath(f));
            if (!fi.exists() || !fi.isFile() || !fi.isReadable())
                return fail(QStringLiteral("File not found: %1.").arg(f));
        }
    }

    // Resolved, because the Rockchip parser looks the images up on disk;
    // messages show them through unSysPath().
    if (!copy_path(m_plans[0].devicePath, sizeof(m_plans[0].devicePath), m_bootDevice.getFullDevName())
        || !copy_path(m_plans[0].imageDir, sizeof(m_plans[0].imageDir), sysPath(m_config.imagePath))
        || !copy_path(m_plans[1].imageDir, sizeof(m_plans[1].imageDir), sysPath(m_config.imagePath)))
        return fail(QStringLiteral("Path too long: %1.").arg(m_config.imagePath));

    if (QFileInfo::exists(sysPath(m_config.imagePath + "/dtbo.img"))) {
        if (m_systemDevice.getFullDevName() != m_bootDevice.getFullDevName())
            copy_path(m_plans[1].devicePath, sizeof(m_plans[1].devicePath), m_systemDevice.getFullDevName());
        if (needsOverlayRebuild() && !rebuildOverlay())
            return false;
    }
    return !failIfCancelled();
}

bool SDUpdateThread::checkInputFiles()
{
    if (isRawImageSet()) {
        QString path = m_config.imagePath + "/" + m_config.os_raw_img;
        if (m_config.os_raw_img.isEmpty() || file_test(local(path).constData()) != 0)
            return fail(QStringLiteral("File not found: %1").arg(path));
        m_rawImagePath = path;
        return true;
    }
    QString map = m_config.imagePath + "/" + m_config.os_partmap_txt;
    if (m_config.os_partmap_txt.isEmpty() || file_test(local(map).constData()) != 0)
        return fail(QStringLiteral("File not found: %1").arg(map));
    if (!copy_path(m_plans[0].mapFile, sizeof(m_plans[0].mapFile), map))
        return fail(QStringLiteral("Path too long: %1.").arg(map));
    return true;
}

bool SDUpdateThread::checkDevices()
{
    for (int i = 0; i < 2; ++i) {
        if (!m_plans[i].devicePath[0])
            continue;
        if (!checkDevice(m_plans[i], i == 0))
            return false;
    }
    return !failIfCancelled();
}

bool SDUpdateThread::checkDevice(DevicePlan &plan, bool isBootDevice)
{
    const char *path = plan.devicePath;
    // "/dev/null" (no separate device) is skipped before it is looked up: a
    // simulated board has no such node.
    if (!device_plan_has_device(&plan))
        return true;
    if (file_test(path) != 0)
        return fail(QStringLiteral("Fail to open device: %1").arg(path));

    int isBlockDevice = 0;
    int sectorSize = 512;
    int64_t capacity = get_disk_capacity(path, &isBlockDevice, &sectorSize);
    if (capacity <= 0)
        return fail(QStringLiteral("Invalid disk size (%1) %2").arg(capacity).arg(path));
    if (sectorSize < 512 || !is_power_of_two(sectorSize))
        sectorSize = 512;
    plan.capacity = capacity;
    plan.sectorSize = sectorSize;

    log2file("%s", k_separator);
    log2file(isBootDevice ? "Boot device:\n" : "System device:\n");
    log2file("[%s] capacity = %lldMB, %lld bytes\n", path, static_cast<long long>(capacity / 2048),
             static_cast<long long>(capacity * 512));
    log2file("Block device sector size: %dB\n", sectorSize);

    plan.currentCount = 0;
    // Only a sector that ends in the MBR signature is read as a table: a
    // new or erased drive holds leftovers whose "entries" point anywhere and
    // would make the device look broken although it is about to be written.
    uint8_t mbr[512];
    int64_t got = mmc_read(path, 0, sizeof(mbr), mbr);
    if (got < 0) {
        log2file("invalid partition info, %lld\n", static_cast<long long>(got));
        return fail(QStringLiteral("Invalid partition info, ret = %1").arg(got));
    }
    int ret = 0;
    if (got == static_cast<int64_t>(sizeof(mbr)) && mbr[510] == 0x55 && mbr[511] == 0xAA)
        ret = disk_part_table_info(path, 0, 0, plan.current, &plan.currentCount, MBR_MAX_PARTITIONS, mmc_read);
    else
        log2file("%s has no MBR signature, no current partitions\n", path);
    if (ret < 0) {
        log2file("invalid partition info, %d\n", ret);
        return fail(QStringLiteral("Invalid partition info, ret = %1").arg(ret));
    }
    if (plan.currentCount > 0 && plan.current[0].type == 0xEE && plan.current[0].start == 1) {
        printf("Device has a protective MBR\n");
        fflush(stdout);
    } else {
        log2file("current %s partition:\n", path);
        for (int i = 0; i < plan.currentCount; ++i) {
            const mbr_entry &e = plan.current[i];
            bool ext = e.type == 0x0F || (e.type & 0x7F) == 0x05;
            char kb[32];
            snprintf(kb, sizeof(kb), "%llu", static_cast<unsigned long long>(e.size) / 2);
            log2file("MBR.%d start : 0x%010llx size 0x%010llx %s kB\n", i,
                     static_cast<unsigned long long>(e.start) * 512,
                     static_cast<unsigned long long>(e.size) * 512, ext ? "Ext" : kb);
        }
    }
    return true;
}

bool SDUpdateThread::lowFormatDevice(DevicePlan &plan)
{
    const char *path = plan.devicePath;
    log2file("Low formating %-20s  ", path);
    if (mmc_open(path) < 0)
        return fail(QStringLiteral("Fail to low format %1.").arg(path));
    // The discard's final (done) callback is the one low-format-finished
    // event of this device.
    int ret = mmc_discard(path, 0, plan.capacity * 512, path, 1, 1, lowformat_callback);
    if (ret < 0)
        log2file("discard of %s returned %d\n", path, ret);
    if (mmc_release() < 0)
        return fail(QStringLiteral("Fail to low format %1.").arg(path));
    log2file(" : done.\n");
    return !failIfCancelled();
}

bool SDUpdateThread::classifyRawImage()
{
    if (m_rawImagePath.isEmpty()) {
        m_useRawFlow = false;
        return true;
    }
    const QByteArray path = local(sysPath(m_rawImagePath));
    // Not even read when it is the device about to be written.
    if (!refuseTargetAsImage(m_rawImagePath))
        return false;
    int err = 0;
    FILE *fp = open_input_file(path.constData(), &err);
    if (!fp)
        return fail(QStringLiteral("Failed to read file, ret = %1.")
                        .arg(err == EINVAL ? QStringLiteral("not a regular file or block device")
                                           : QString::fromLocal8Bit(strerror(err))));
    // A firmware package carries its parameter text in plain inside; its
    // magic must decide before that text makes it look like a bare map.
    char magic[4] = {0, 0, 0, 0};
    const bool isPackage = fread(magic, 1, sizeof(magic), fp) == sizeof(magic) && memcmp(magic, "RKFW", 4) == 0;
    if (fseek(fp, 0, SEEK_SET) != 0) {
        int err = errno ? errno : EIO;
        fclose(fp);
        return fail(QStringLiteral("Failed to read file, ret = %1.").arg(QString::fromLocal8Bit(strerror(err))));
    }
    // Any suffix starting with ".gz" is peeked at as gzip; xz and zstd by
    // their names' ends, as the raw flow writes them.
    QString suffix = m_rawImagePath.mid(m_rawImagePath.lastIndexOf('.'));
    const image_compression kind = suffix.startsWith(QLatin1String(".gz")) ? IMAGE_GZIP
                                                                          : image_compression_of(path.constData());
    // xz and zstd files are not read as text: their blocks keep literal text
    // as it is, so a compressed package would pass for a parameter file.
    const bool textScan = !isPackage && (kind == IMAGE_RAW || kind == IMAGE_GZIP);
    bool binary = false;
    int markers = textScan ? count_parameter_markers(fp, &binary) : 0;
    if (markers >= 3 && binary) {
        fclose(fp);
        return fail(QStringLiteral("Invalid image file %1: parameter text inside binary data without an RKFW "
                                   "header (a damaged firmware package?).").arg(m_rawImagePath));
    }
    if (markers >= 3) {
        fclose(fp);
        // The parameter block must carry this file, whatever its name.
        if (!copy_path(m_plans[0].mapFile, sizeof(m_plans[0].mapFile), m_rawImagePath)
            || !copy_path(m_plans[0].paramSource, sizeof(m_plans[0].paramSource), sysPath(m_rawImagePath)))
            return fail(QStringLiteral("Path too long: %1.").arg(m_rawImagePath));
        m_useRawFlow = false;
        return true;
    }

    unsigned char head[102];
    memset(head, 0, sizeof(head));
    bool ok = fseek(fp, 0, SEEK_SET) == 0;
    if (ok && kind != IMAGE_RAW) {
        int ret = compressed_read(kind, fp, head, sizeof(head));
        if (ret < 0) {
            fclose(fp);
            return failWrite(QStringLiteral("Failed to decompress file, ret = %1.").arg(ret));
        }
    } else {
        // A file shorter than the header is no package; the raw flow
        // judges its size.
        if (ok)
            fread(head, 1, sizeof(head), fp);
        if (!ok || ferror(fp)) {
            int err = errno ? errno : EIO;
            fclose(fp);
            return fail(QStringLiteral("Failed to read file, ret = %1.").arg(QString::fromLocal8Bit(strerror(err))));
        }
    }
    fclose(fp);
    if (memcmp(head, "RKFW", 4) == 0) {
        log2file("rockchip firmware format: %s\n", path.constData());
        m_useRawFlow = false;
        return unpackFirmwarePackage();
    }
    m_useRawFlow = true;
    return !failIfCancelled();
}

void SDUpdateThread::cleanUp()
{
    if (!m_tmpDir.isEmpty()) {
        QByteArray dir = local(m_tmpDir);
        if (QDir(sysPath(m_tmpDir)).removeRecursively())
            log2file("cleanup tmpdir: %s\n", dir.constData());
        else
            log2file("failed to remove tmpdir: %s\n", dir.constData());
        m_tmpDir.clear();
    }
    if (m_ufsPlan)
        ufsRemoveTempDir(m_ufsPlan.get());
    if (!debugMode()) {
        for (const QString &f : rocknixScriptFiles())
            QFile::remove(f);
    }
    // A device still open here belongs to a stage that stopped early; its
    // data must still be forced out, and a failure to do so is a failure of
    // the install, never a success.
    if (mmc_fd >= 0 && mmc_release() < 0)
        fail(QStringLiteral("Failed to flush the written data to the device."));
}
