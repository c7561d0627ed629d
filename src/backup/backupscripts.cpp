#include "backup/backupscripts.h"

#include <QFile>
#include <QProcess>

#include "board/boardhardwareinfo.h"
#include "startup/globals.h"
#include "util/qpaths.h"
#include "util/shellquote.h"
#include "util/util.h"

const char *const BackupScripts::USBFormatScriptFile = "/tmp/format_usb_drive";
const char *const BackupScripts::TFFormatScriptFile = "/tmp/format_tf_drive";
const char *const BackupScripts::TFCardVolumeLabel = "SDCARD";

QString BackupScripts::usbFormatScript(const QString &drive, const QString &firstPartition, bool mounted)
{
    QStringList lines{QString()};
    if (mounted)
        lines << QStringLiteral("umount %1").arg(shellQuote(firstPartition));
    lines << QStringLiteral("(echo o; echo n; echo p; echo 1; echo \"\"; echo \"\"; echo w; echo q) | fdisk %1")
                 .arg(shellQuote(QStringLiteral("/dev/") + drive));
    lines << QStringLiteral("mkfs.ext4 -L UDISK %1").arg(shellQuote(firstPartition));
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QString BackupScripts::tfFormatScript(const QString &card, const QString &firstPartition, const QString &mountPoint)
{
    const QStringList lines{
        QStringLiteral("umount %1").arg(shellQuote(mountPoint)),
        QStringLiteral("parted %1 unit % resizepart %2 100 unit MB print")
            .arg(shellQuote(QStringLiteral("/dev/") + card))
            .arg(1),
        QStringLiteral("mkfs.exfat -n %1 %2").arg(QLatin1String(TFCardVolumeLabel), shellQuote(firstPartition)),
        QStringLiteral("mount %1 %2").arg(shellQuote(firstPartition), shellQuote(mountPoint)),
    };
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

static void unmountNow(const QString &targets)
{
    QProcess::execute(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("umount ") + targets});
}

static bool isMounted(const QString &dev)
{
    return Util::isMountPoint(dev) == 1;
}

// "    mount -t <type> <dev> <dir>", or without the type when it is unknown.
static QString mountLine(const QString &dev, const QString &dir)
{
    const QString type = gOnboardFlashFSTypes.value(dev);
    if (type.isEmpty())
        return QStringLiteral("    mount %1 %2").arg(shellQuote(dev), dir);
    return QStringLiteral("    mount -t %1 %2 %3").arg(shellQuote(type), shellQuote(dev), dir);
}

QString BackupScripts::onboardFlashCustomeScript(const QString &bootDev, const QString &rootDev,
                                                 const QString &dataDev, const QString &scriptDir,
                                                 const QStringList &scripts)
{
    const QString kind = gCurrentBoardInfo && gCurrentBoardInfo->isOnboardUFS() ? QStringLiteral("ufs")
                                                                                 : QStringLiteral("emmc");
    QStringList l{QStringLiteral("#!/bin/bash"), QString()};
    if (!bootDev.isEmpty()) {
        if (isMounted(bootDev))
            unmountNow(shellQuote(bootDev));
        l << QStringLiteral("export BOOTDIR=%1").arg(shellQuote(QStringLiteral("/tmp/%1-boot").arg(kind)))
          << QStringLiteral("mkdir -p $BOOTDIR") << QStringLiteral("if ! mountpoint -q \"$BOOTDIR\"; then")
          << mountLine(bootDev, QStringLiteral("\"$BOOTDIR\"")) << QStringLiteral("fi") << QString();
    }
    const QString rootDir = shellQuote(QStringLiteral("/tmp/%1-rootfs").arg(kind));
    if (dataDev.isEmpty()) {
        if (isMounted(rootDev))
            unmountNow(shellQuote(rootDev));
        l << QStringLiteral("export ROOTDIR=%1").arg(rootDir) << QStringLiteral("mkdir -p $ROOTDIR")
          << QStringLiteral("if ! mountpoint -q \"$ROOTDIR\"; then") << mountLine(rootDev, QStringLiteral("\"$ROOTDIR\""))
          << QStringLiteral("fi");
    } else {
        if (isMounted(rootDev))
            unmountNow(shellQuote(rootDev) + QStringLiteral("; umount /tmp/mnt/root /tmp/mnt/data"));
        l << QStringLiteral("export ROOTDIR=%1").arg(rootDir)
          << QStringLiteral("mkdir -p /tmp/mnt/root /tmp/mnt/data $ROOTDIR")
          << QStringLiteral("if ! mountpoint -q \"$ROOTDIR\"; then")
          << QStringLiteral("    mount -o ro %1 /tmp/mnt/root").arg(shellQuote(rootDev))
          << QStringLiteral("    mount %1 /tmp/mnt/data").arg(shellQuote(dataDev))
          << QStringLiteral("    mount -t overlay overlay -olowerdir=/tmp/mnt/root,upperdir=/tmp/mnt/data/root,"
                            "workdir=/tmp/mnt/data/work \"$ROOTDIR\"")
          << QStringLiteral("fi");
    }
    l << QString();
    for (const QString &script : scripts) {
        // `source` is the shell's own: on a simulated board it must find the
        // file below the simulation root, where no stand-in can map it.
        const QString path = sysPath(scriptDir) + QLatin1Char('/') + script;
        l << QStringLiteral("echo %1").arg(shellQuote(QStringLiteral("---- %1 ----").arg(path)))
          << QStringLiteral("source %1").arg(shellQuote(path));
    }
    if (!bootDev.isEmpty())
        l << QStringLiteral("umount ") + shellQuote(bootDev);
    l << QStringLiteral("umount $ROOTDIR");
    if (!dataDev.isEmpty())
        l << QStringLiteral("umount /tmp/mnt/root /tmp/mnt/data");
    l << QStringLiteral("echo \"All done.\"");
    return l.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

bool BackupScripts::makeOnboardFlashCustomeScript(const QString &scriptFile, const QString &bootDev,
                                                  const QString &rootDev, const QString &dataDev,
                                                  const QString &scriptDir, const QStringList &scripts)
{
    return writeScript(scriptFile, onboardFlashCustomeScript(bootDev, rootDev, dataDev, scriptDir, scripts));
}

bool BackupScripts::writeScript(const QString &file, const QString &text)
{
    QFile f(sysPath(file));
    f.remove();
    const QByteArray bytes = text.toUtf8();
    const bool ok = f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size() && f.flush();
    f.close();
    return ok;
}
