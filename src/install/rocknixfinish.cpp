#include "install/rocknixfinish.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "install/writtenimage.h"
#include "storage/imagewriter.h"
#include "storage/mmc.h"
#include "util/log2file.h"
#include "util/qpaths.h"
#include "util/shellquote.h"

namespace {

const char kSeparator[] = "--------------------------------------------------------------------------------\n";

QString scriptPath() { return sysPath(QStringLiteral("/tmp/rocknix_change_dtb.sh")); }
QString logPath() { return sysPath(QStringLiteral("/tmp/rocknix_change_dtb.log")); }
QString errorFlagPath() { return sysPath(QStringLiteral("/tmp/rocknix_change_dtb_error")); }
QString okFlagPath() { return sysPath(QStringLiteral("/tmp/rocknix_change_dtb_ok")); }

const QString kDtbFailed = QStringLiteral("Failed to update DTB settings.");

// A fixed system path as one shell word, in double quotes as the settings
// lines are written on a board. A simulation root may bring characters that
// double quotes still interpret; such a path goes through shellQuote.
QString pathWord(const QString &path)
{
    static const QString special = QStringLiteral("\"$`\\\n");
    for (const QChar c : path) {
        if (special.contains(c))
            return shellQuote(path);
    }
    return QLatin1Char('"') + path + QLatin1Char('"');
}

// "/bin/bash" of the running system (below the simulation root when one is
// set), else the first bash in PATH.
QString findBash()
{
    const QFileInfo fixed(sysPath(QStringLiteral("/bin/bash")));
    if (fixed.isFile() && fixed.isExecutable())
        return fixed.filePath();
    return QStandardPaths::findExecutable(QStringLiteral("bash"));
}

QString errnoText(int err)
{
    return QString::fromLocal8Bit(strerror(err));
}

// The device and the file are released on every path; a failed release
// means the data may not have reached the device.
QString writeUbootOpen(const QByteArray &dev, const QString &ubootPath, int64_t capacity)
{
    const QByteArray file = sysPath(ubootPath).toLocal8Bit();
    if (mmc_open(dev.constData()) < 0)
        return QStringLiteral("Fail to call mmc_open on %1.").arg(QString::fromLocal8Bit(dev));

    FILE *fp = fopen(file.constData(), "rb");
    if (!fp) {
        const int err = errno;
        log2file("fail open %s, ret = %s\n", file.constData(), strerror(err));
        mmc_release();
        return QStringLiteral("Fail to open file: %1, errno: %2.").arg(ubootPath, errnoText(err));
    }
    QString error;
    int64_t fileSize = -1;
    if (fseeko64(fp, 0, SEEK_END) == 0)
        fileSize = ftello64(fp);
    // The file starts 32 KiB into the device, so that much less of it is
    // available to the file.
    const int64_t room = capacity * 512 - ROCKNIX_UBOOT_OFFSET;
    if (fileSize <= 0 || fseeko64(fp, 0, SEEK_SET) != 0) {
        error = QStringLiteral("Cannot get file size: %1.").arg(ubootPath);
    } else if (fileSize > room) {
        log2file("%s: %lld bytes do not fit into %lld bytes after offset %lld\n", file.constData(),
                 (long long)fileSize, (long long)room, (long long)ROCKNIX_UBOOT_OFFSET);
        error = QStringLiteral("File too big: %1 (target: %2).").arg(ubootPath, QString::fromLocal8Bit(dev));
    } else {
        const int ret = write_image(dev.constData(), ROCKNIX_UBOOT_OFFSET, room, fp, fileSize,
                                    file.constData(), "root", 1, 1);
        if (ret < 0) {
            log2file("write_image %s returned %d\n", file.constData(), ret);
            error = QStringLiteral("Failed to write image file %1 to %2.").arg(ubootPath, QString::fromLocal8Bit(dev));
        } else {
            error = verifyWrittenLoader(dev.constData(), ubootPath, QStringLiteral("uboot"));
        }
    }
    if (fclose(fp) != 0 && error.isEmpty())
        error = QStringLiteral("Cannot get file size: %1.").arg(ubootPath);
    if (mmc_release() < 0 && error.isEmpty()) {
        log2file("mmc_release %s failed after writing %s\n", dev.constData(), file.constData());
        error = QStringLiteral("Failed to write image file %1 to %2.").arg(ubootPath, QString::fromLocal8Bit(dev));
    }
    return error;
}

bool writeScriptFile(const QString &path, const QString &text)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray bytes = text.toUtf8();
    const bool ok = f.write(bytes) == bytes.size() && f.flush();
    f.close();
    return ok && f.error() == QFileDevice::NoError;
}

} // namespace

QString rocknixBootPartition(const QString &devicePath)
{
    if (!devicePath.isEmpty() && devicePath.back().isDigit())
        return devicePath + QLatin1String("p1");
    return devicePath + QLatin1Char('1');
}

QString rocknixWriteUboot(const QString &devicePath, const QString &ubootPath, const RocknixProgressSink &progress)
{
    mmc_release();
    const QByteArray dev = devicePath.toLocal8Bit();
    const int64_t capacity = get_disk_capacity(dev.constData(), nullptr, nullptr);
    if (capacity <= 0)
        return QStringLiteral("Invalid disk size (%1) %2").arg(capacity).arg(devicePath);

    log2file("%s", kSeparator);
    log2file("copy from: %s to %s\n", qPrintable(ubootPath), dev.constData());
    if (progress)
        progress(false, ubootPath, QStringLiteral("root"), 0, 1, 1);

    const QString error = writeUbootOpen(dev, ubootPath, capacity);
    if (!error.isEmpty())
        return error;
    if (progress)
        progress(false, ubootPath, QStringLiteral("uboot"), 100, 1, 1);
    return QString();
}

QString rocknixChangeDtbScript(const QString &bootPartition, const QString &dtbName, const QString &dtbPath)
{
    QStringList l;
    l << "#!/bin/bash"
      << ""
      << "LOG=" + pathWord(logPath())
      << "ERRFLAG=" + pathWord(errorFlagPath())
      << "OKFLAG=" + pathWord(okFlagPath())
      << "rm -f \"$LOG\" \"$ERRFLAG\" \"$OKFLAG\""
      << ""
      << "BOOT_PART=" + pathWord(bootPartition)
      << "BOOT_DIR=" + pathWord(sysPath(QStringLiteral("/mnt/boot")))
      << ""
      << "log() {"
      << "    echo \"$(date \"+%F %T\") $*\" >> \"$LOG\""
      << "}"
      << ""
      << "on_error() {"
      << "    log \"ERROR: $*\""
      << "    if mountpoint -q \"$BOOT_DIR\"; then"
      << "        log \"Unmounting $BOOT_DIR on error\""
      << "        umount \"$BOOT_DIR\" || log \"Failed to unmount $BOOT_DIR\""
      << "    fi"
      << "    touch \"$ERRFLAG\""
      << "    exit 1"
      << "}"
      << ""
      << "set -e"
      << ""
      << "log \"=== Start updating DTB ===\""
      << "NEW_DTB=" + shellQuote(dtbName)
      << "log \"New DTB: $NEW_DTB\""
      << ""
      << "mkdir -p \"$BOOT_DIR\" || on_error \"Failed to create $BOOT_DIR\""
      << "mount \"$BOOT_PART\" \"$BOOT_DIR\" >> \"$LOG\" 2>&1 || on_error \"Failed to mount $BOOT_PART\""
      << ""
      << "CONFIG_FILE=\"$BOOT_DIR/extlinux/extlinux.conf\""
      << "log \"Modifying $CONFIG_FILE\""
      << "if [ ! -f \"$CONFIG_FILE\" ]; then"
      << "    on_error \"Config file not found: $CONFIG_FILE\""
      << "fi"
      << "sed -E -i \"s|^([[:space:]]*FDT[[:space:]]*/)[^[:space:]]+|\\1$NEW_DTB|\" \"$CONFIG_FILE\" || on_error \"sed replace failed\""
      << ""
      << "log \"Copying dtb file to $BOOT_DIR\""
      << "cp -af " + shellQuote(dtbPath) + " \"$BOOT_DIR/\" || on_error \"Failed to copy dtb file to $BOOT_DIR\""
      << ""
      << "log \"Removing fbcon=rotate:1 from extlinux.conf if present\""
      << "sed -i \"s/ fbcon=rotate:1//g\" \"$CONFIG_FILE\" || true"
      << ""
      << "log \"Unmounting $BOOT_DIR\""
      << "umount \"$BOOT_DIR\" || on_error \"Failed to unmount $BOOT_DIR\""
      << "log \"DTB update complete\""
      << "touch \"$OKFLAG\""
      << "log \"=== Done ===\"";
    return l.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QString rocknixChangeDtb(const QString &devicePath, const QString &dtbName, const QString &dtbPath)
{
    // Markers of an earlier run must not speak for this one.
    for (const QString &f : rocknixScriptFiles())
        QFile::remove(f);

    const QString script = scriptPath();
    const QString text = rocknixChangeDtbScript(sysPath(rocknixBootPartition(devicePath)), dtbName, sysPath(dtbPath));
    // Without the script the board keeps the generic device tree and may
    // not boot, so this is a failure, not a step to skip.
    if (!writeScriptFile(script, text)) {
        log2file("cannot create %s\n", qPrintable(script));
        return kDtbFailed;
    }
    if (!QFile::setPermissions(script, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                           | QFileDevice::ReadGroup | QFileDevice::ExeGroup
                                           | QFileDevice::ReadOther | QFileDevice::ExeOther))
        return QStringLiteral("Failed to set file permissions.");

    const QString bash = findBash();
    if (bash.isEmpty()) {
        log2file("bash not found\n");
        return kDtbFailed;
    }
    QProcess proc;
    proc.setProcessChannelMode(QProcess::ForwardedChannels);
    proc.start(bash, QStringList() << script);
    if (!proc.waitForStarted(-1)) {
        log2file("cannot start %s %s: %s\n", qPrintable(bash), qPrintable(script), qPrintable(proc.errorString()));
        return kDtbFailed;
    }
    proc.waitForFinished(-1);
    const bool exitedCleanly = proc.exitStatus() == QProcess::NormalExit && proc.exitCode() == 0;
    // The OK marker is touched by the script's last step: an exit before it
    // (set -e on a step without its own handler) is a failure too.
    if (QFileInfo::exists(errorFlagPath()) || !exitedCleanly || !QFileInfo::exists(okFlagPath())) {
        log2file("%s failed: exit status %d, see %s\n", qPrintable(script), proc.exitCode(), qPrintable(logPath()));
        return kDtbFailed;
    }
    log2file(" : done.\n");
    log2file("%s", kSeparator);
    return QString();
}

QString rocknixFinish(const QString &devicePath, const QString &ubootPath, const QString &dtbName,
                      const QString &dtbPath, const RocknixProgressSink &progress)
{
    const QString error = rocknixWriteUboot(devicePath, ubootPath, progress);
    if (!error.isEmpty())
        return error;
    return rocknixChangeDtb(devicePath, dtbName, dtbPath);
}

QStringList rocknixScriptFiles()
{
    return QStringList() << scriptPath() << logPath() << errorFlagPath() << okFlagPath();
}
