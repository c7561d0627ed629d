#include "frontend/boardservices.h"

#include <QDebug>
#include <QDir>
#include <QFile>

#include <unistd.h>

#include "backup/backupscripts.h"
#include "backup/dffreespace.h"
#include "board/boardhardwareinfo.h"
#include "startup/globals.h"
#include "util/qpaths.h"
#include "util/util.h"

BoardServices &BoardServices::shared()
{
    static BoardServices instance;
    return instance;
}

QString BoardServices::tfCardDevName()
{
    return gCurrentBoardInfo ? gCurrentBoardInfo->getSDCardDevName() : QStringLiteral("mmcblk0");
}

void BoardServices::reCalcTFCardSize()
{
    reCalcTFCardAvailableSize();
    m_tfCardSize = gCurrentBoardInfo ? gCurrentBoardInfo->getDiskSize(tfCardDevName()) : 0;
}

void BoardServices::reCalcTFCardAvailableSize()
{
    const QString partition = gCurrentBoardInfo ? gCurrentBoardInfo->getSDCardFatPartitionFullName()
                                                : QStringLiteral("/dev/") + tfCardDevName() + QStringLiteral("p1");
    qint64 kib = 0;
    m_tfCardAvailableSize = readDfFreeSpaceKiB(partition, QStringLiteral("/tmp/tfcardfreesize"), &kib) ? kib : 0;
}

static QString onboardKind()
{
    return gCurrentBoardInfo ? gCurrentBoardInfo->getOnboardFlashType() : QStringLiteral("eMMC Flash");
}

bool BoardServices::isTFCardTooSmallFor1KeyBackup() const
{
    return m_tfCardSize - 2500000 < gOnboardFlashSize;
}

bool BoardServices::isTFCardShortOfSpaceFor1KeyBackup() const
{
    return m_tfCardAvailableSize >= 1 && m_tfCardAvailableSize < gOnboardFlashSize;
}

QStringList BoardServices::tooSmallLCDLines()
{
    return {QStringLiteral("Error"), QString(), QStringLiteral("please use"), QStringLiteral("a larger TF card")};
}

QString BoardServices::tooSmallConsoleText()
{
    return QStringLiteral("The capacity of this TF card is not enough to backup %1, please use a larger TF card.")
        .arg(onboardKind());
}

QString BoardServices::tooSmallMessage()
{
    return QStringLiteral("The capacity of this TF card is not enough to backup %1 (%2), please use a larger TF "
                          "card.")
        .arg(onboardKind(), Util::size_human(gOnboardFlashSize * 1024));
}

QString BoardServices::shortOfSpaceConsoleText() const
{
    return QStringLiteral("Your TF card does not have enough free disk space (%1), at least %2 of free disk space "
                          "is required. ")
        .arg(Util::size_human(m_tfCardAvailableSize * 1024), Util::size_human(gOnboardFlashSize * 1024));
}

// Writes, flushes and syncs one configuration file.
static bool writeSynced(const QString &path, const QByteArray &text)
{
    QFile f(sysPath(path));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    bool ok = f.write(text) == text.size() && f.flush();
    ok = fsync(f.handle()) == 0 && ok;
    f.close();
    return ok;
}

bool BoardServices::dhcp()
{
    const bool main = writeSynced(QStringLiteral("/etc/network/interfaces"),
                                  "# interfaces(5) file used by ifup(8) and ifdown(8)\n"
                                  "# Include files from /etc/network/interfaces.d:\n"
                                  "source-directory /etc/network/interfaces.d\n\n"
                                  "auto lo\niface lo inet loopback\n\n"
                                  "allow-hotplug wlan0\niface wlan0 inet dhcp\n"
                                  "        wpa-conf /etc/wpa_supplicant/wpa_supplicant.conf\n\n\n");
    QDir().mkpath(sysPath(QStringLiteral("/etc/network/interfaces.d")));
    const bool eth0 = writeSynced(QStringLiteral("/etc/network/interfaces.d/eth0"),
                                  "auto eth0\nallow-hotplug eth0\niface eth0 inet dhcp\n\n");
    return main && eth0;
}

void BoardServices::reNewCurrentOSInfo()
{
    gOnboardFlashLabels.clear();
    gOnboardFlashFSTypes.clear();
    if (gCurrentBoardInfo)
        Util::getPartitionInfo(gCurrentBoardInfo->getOnboardFlashDevFullName(), gOnboardFlashLabels,
                               gOnboardFlashFSTypes);
    gCurrentOSInOnboardFlash = Util::getCurrntOSInOnboardFlash(gOnboardFlashLabels, gOnboardFlashFSTypes);
    if (debugMode())
        qDebug() << "### Renew CurrentOS Info, gCurrentOSInOnboardFlash = " << gCurrentOSInOnboardFlash;
}

bool BoardServices::isBoardUnableToReadPartition()
{
    return gCurrentBoardInfo && gCurrentBoardInfo->cpuName.toUpper() == QLatin1String("RK3399");
}

// The onboard partition labelled `label` (of `type` when one is given).
static QString partitionLabelled(const QString &label, const QString &type)
{
    for (auto it = gOnboardFlashLabels.cbegin(); it != gOnboardFlashLabels.cend(); ++it) {
        if (it.value() == label && (type.isEmpty() || gOnboardFlashFSTypes.value(it.key()) == type))
            return it.key();
    }
    return QString();
}

int BoardServices::doScriptsInPath(const QString &scriptDirectory, const QString &wrapperFile,
                                   const ScriptRunner &runner)
{
    const QStringList scripts = Util::getAllFileInPath(sysPath(scriptDirectory), QStringLiteral("sh"));
    if (debugMode()) {
        qDebug() << "### scriptPath = " << scriptDirectory;
        qDebug() << "### scriptList = " << scripts;
    }
    if (scripts.isEmpty() || gCurrentOSInOnboardFlash.toLower() != QLatin1String("linux"))
        return 0;
    const QString rootDev = partitionLabelled(QStringLiteral("rootfs"), QStringLiteral("ext4"));
    if (rootDev.isEmpty())
        return -2;
    const QString dataDev = partitionLabelled(QStringLiteral("userdata"), QStringLiteral("ext4"));
    const QString bootDev = partitionLabelled(QStringLiteral("boot"), QString());
    if (!BackupScripts::makeOnboardFlashCustomeScript(wrapperFile, bootDev, rootDev, dataDev, scriptDirectory,
                                                      scripts))
        return -1;
    const int result = runner ? runner(sysPath(wrapperFile)) : -1;
    QFile::remove(sysPath(wrapperFile));
    return result;
}
