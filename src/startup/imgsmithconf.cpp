#include "startup/imgsmithconf.h"

#include "board/boardhardwareinfo.h"
#include "startup/globals.h"
#include "util/util.h"
#include "util/qpaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

const char *const kInstallConfFileName = "/tmp/imgsmith.conf";

namespace {

bool currentBoardGetsShortConf()
{
    return gCurrentBoardInfo && isShortConfBoard(gCurrentBoardInfo->boardName);
}

// The INI reader splits an unquoted value at commas into a list; a
// hand-written "welcomeMessage=Hello, world" or an image set whose name holds
// a comma must still come back as the one text the line carries.
QString confString(const QSettings &s, const QString &key, const QString &def)
{
    const QVariant v = s.value(key);
    if (!v.isValid())
        return def;
    if (v.typeId() == QMetaType::QStringList)
        return v.toStringList().join(QStringLiteral(", "));
    return v.toString();
}

// Only "true"/"false" (and 1/0) are booleans; anything else keeps the
// default, so a typo in disableLowFormatting never skips the erase.
bool confBool(const QSettings &s, const QString &key, bool def)
{
    const QString v = confString(s, key, QString()).trimmed().toLower();
    if (v == QLatin1String("true") || v == QLatin1String("1"))
        return true;
    if (v == QLatin1String("false") || v == QLatin1String("0"))
        return false;
    return def;
}

QString boolText(bool b)
{
    return b ? QStringLiteral("true") : QStringLiteral("false");
}

bool confFileExists(const QString &fileName)
{
    return QFileInfo::exists(sysPath(fileName));
}

QString withoutTrailingSeparators(QString path)
{
    while (path.size() > 1 && (path.endsWith(QLatin1Char('/')) || path.endsWith(QLatin1Char('\\'))))
        path.chop(1);
    return path;
}

bool existsAsDirOrFile(const QString &path)
{
    const QFileInfo fi(sysPath(path));
    return fi.isDir() || fi.isFile();
}

} // namespace

QString getImgSmithConfFileName()
{
    if (!imgsmithConfFileName.isEmpty())
        return imgsmithConfFileName;
    return gSDCardPath + QLatin1Char('/') + QStringLiteral("imgsmith.conf");
}

ImgSmithConfValues readImgSmithConf(const QString &fileName)
{
    ImgSmithConfValues c;
    const QString path = sysPath(fileName);
    if (!QFileInfo::exists(path))
        return c;
    c.fileExists = true;
    QSettings s(path, QSettings::IniFormat);
    c.autoStart = confString(s, QStringLiteral("autoStart"), c.autoStart);
    c.autoExit = confBool(s, QStringLiteral("autoExit"), c.autoExit);
    c.disableLowFormatting = confBool(s, QStringLiteral("disableLowFormatting"), c.disableLowFormatting);
    c.autoRebootWhenSDBeEjected = confBool(s, QStringLiteral("autoRebootWhenSDBeEjected"),
                                           c.autoRebootWhenSDBeEjected);
    c.verifyAfterWrite = confBool(s, QStringLiteral("verifyAfterWrite"), c.verifyAfterWrite);
    s.beginGroup(QStringLiteral("UI"));
    c.screenSizePercent = confString(s, QStringLiteral("screenSizePercent"), c.screenSizePercent);
    c.welcomeMessage = confString(s, QStringLiteral("welcomeMessage"), c.welcomeMessage);
    c.hideMenuButton = confBool(s, QStringLiteral("hideMenuButton"), c.hideMenuButton);
    c.hideBackupAndRestoreButton = confBool(s, QStringLiteral("hideBackupAndRestoreButton"),
                                            c.hideBackupAndRestoreButton);
    c.hideStatusBar = confBool(s, QStringLiteral("hideStatusBar"), c.hideStatusBar);
    c.osListViewType = confString(s, QStringLiteral("osListViewType"), c.osListViewType);
    s.endGroup();
    return c;
}

bool genImgSmithConf(const QString &fileName, const QString &availableValues,
                     const QString &autoStart, bool autoExit,
                     const QString &screenSizePercent, const QString &welcomeMessage,
                     bool hideMenuButton, bool hideBackupAndRestoreButton,
                     bool hideStatusBar, bool disableLowFormatting, bool verifyAfterWrite)
{
    QStringList lines;
    lines << QStringLiteral("; This is the imgSmith configuration file.")
          << QStringLiteral("; Every key and its values are described in the imgsmith README.")
          << QString()
          << QStringLiteral("[General]")
          << QStringLiteral("; Automate OS installation at system startup,")
          << QStringLiteral("; Use the \"autoStart\" field to specify the image path or RAW image file, ")
          << QStringLiteral("; The RAW image file can be a gzip compressed file, ")
          << QStringLiteral("; The RAW image file extension must be \".raw\" or \".gz\", ")
          << QStringLiteral("; Available values: ") + availableValues
          << QStringLiteral("autoStart=") + autoStart
          << QString()
          << QStringLiteral("; If the \"autoExit\" field set to true, the imgsmith-gui will automatically exit "
                            "after burning or restoring is completed,")
          << QStringLiteral("; You can do something else after burning or restoring by modifying /opt/run-imgsmith.sh.")
          // The short file of the headless boards has no later autoExit
          // line, so this one must carry the value or --auto-exit is lost.
          << QStringLiteral("autoExit=") + boolText(currentBoardGetsShortConf() && autoExit)
          << QString()
          << QStringLiteral("; Don't erase the flash before burning, useful if you only want to update part "
                            "of the system files")
          << QStringLiteral("disableLowFormatting=") + boolText(disableLowFormatting)
          << QString();
    // Written only when on, so that a file without it reads as it always did.
    if (verifyAfterWrite)
        lines << QStringLiteral("; Read every image back after writing it and stop on a difference")
              << QStringLiteral("verifyAfterWrite=true") << QString();
    if (!currentBoardGetsShortConf()) {
        // The second autoExit line is the effective one: the INI reader keeps
        // the later of two equal keys.
        lines << QStringLiteral("; If the \"autoExit\" set to true, the imgsmith-gui will automatically exit "
                                "after burning or restoring is completed,")
              << QStringLiteral("; You can do something else after burning or restoring by modifying "
                                "/opt/run-imgsmith.sh.")
              << QStringLiteral("autoExit=") + boolText(autoExit)
              << QString()
              << QStringLiteral("[UI]")
              << QStringLiteral("; HDMI overscan option, examples:")
              << QStringLiteral(";     screenSizePercent=auto")
              << QStringLiteral(";     screenSizePercent=90")
              << QStringLiteral("screenSizePercent=") + screenSizePercent
              << QString()
              << QStringLiteral("welcomeMessage=") + welcomeMessage
              << QStringLiteral("hideMenuButton=") + boolText(hideMenuButton)
              << QStringLiteral("hideBackupAndRestoreButton=") + boolText(hideBackupAndRestoreButton)
              << QStringLiteral("hideStatusBar=") + boolText(hideStatusBar);
    }
    QByteArray text;
    for (const QString &line : lines)
        text += line.toUtf8() + '\n';

    QFile f(sysPath(fileName));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const bool ok = f.write(text) == text.size() && f.flush();
    f.close();
    return ok && f.error() == QFileDevice::NoError;
}

bool writeDefaultImgSmithConf(const QStringList &imageSetPaths, const QStringList &mountPoints)
{
    const QString fileName = getImgSmithConfFileName();
    if (confFileExists(fileName))
        return false;
    QStringList available;
    for (const QString &p : imageSetPaths) {
        // Scanners may hand over resolved paths; compare in system names.
        const QString path = unSysPath(p);
        QString rel = path;
        for (const QString &m : mountPoints) {
            const QString mount = withoutTrailingSeparators(unSysPath(m));
            if (path.startsWith(mount + QLatin1Char('/'))) {
                rel = path.mid(mount.size() + 1);
                break;
            }
        }
        available << rel;
    }
    return genImgSmithConf(fileName, available.join(QStringLiteral(", ")), QString(), false,
                           QStringLiteral("auto"), QString(), false, false, false, false);
}

bool writeInstallImgSmithConf(const QString &installPath, bool autoExit)
{
    const QString current = getImgSmithConfFileName();
    ImgSmithConfValues in;
    if (confFileExists(current)) {
        in = readImgSmithConf(current);
    } else {
        in.screenSizePercent.clear();
        in.welcomeMessage.clear();
    }
    const QString out = QString::fromLatin1(kInstallConfFileName);
    QFile::remove(sysPath(out));
    const bool ok = genImgSmithConf(out, QString(), installPath, autoExit, in.screenSizePercent,
                                    in.welcomeMessage, in.hideMenuButton,
                                    in.hideBackupAndRestoreButton, in.hideStatusBar,
                                    in.disableLowFormatting, in.verifyAfterWrite);
    imgsmithConfFileName = out;
    return ok;
}

bool setImgSmithConfAutoStart(const QString &value)
{
    QSettings s(sysPath(getImgSmithConfFileName()), QSettings::IniFormat);
    s.setValue(QStringLiteral("autoStart"), value);
    s.sync();
    return s.status() == QSettings::NoError;
}

bool globalIsDisabledLowFormatInConf()
{
    const QString fileName = getImgSmithConfFileName();
    if (!QFileInfo(sysPath(fileName)).isFile())
        return false;
    return readImgSmithConf(fileName).disableLowFormatting;
}

bool globalIsVerifyAfterWriteInConf()
{
    const QString fileName = getImgSmithConfFileName();
    if (!QFileInfo(sysPath(fileName)).isFile())
        return false;
    return readImgSmithConf(fileName).verifyAfterWrite;
}

bool isHDMILinked()
{
    QFile drm(sysPath(QStringLiteral("/sys/class/drm/card0-HDMI-A-1/status")));
    if (drm.exists()) {
        if (!drm.open(QIODevice::ReadOnly))
            return false;
        return QString::fromUtf8(drm.readAll()).trimmed().toLower() == QLatin1String("connected");
    }
    QFile sw(sysPath(QStringLiteral("/sys/class/switch/hdmi/state")));
    if (sw.exists()) {
        if (!sw.open(QIODevice::ReadOnly))
            return false;
        return QString::fromUtf8(sw.readAll()).trimmed() == QLatin1String("1");
    }
    return false;
}

int readScreenSizePercent(int currentPercent)
{
    const ImgSmithConfValues c = readImgSmithConf(getImgSmithConfFileName());
    if (!c.fileExists || c.screenSizePercent.compare(QLatin1String("auto"), Qt::CaseInsensitive) == 0)
        return isHDMILinked() ? 90 : 100;
    bool ok = false;
    const uint n = c.screenSizePercent.toUInt(&ok);
    if (ok && n <= 100)
        return static_cast<int>(n);
    return currentPercent;
}

QString readAutoFlashingImagePathOrRawFile()
{
    const ImgSmithConfValues c = readImgSmithConf(getImgSmithConfFileName());
    if (!c.fileExists)
        return QString();
    const QString value = withoutTrailingSeparators(c.autoStart);
    if (value.isEmpty())
        return QString();
    if (value.startsWith(QLatin1Char('/')))
        return existsAsDirOrFile(value) ? value : QString();
    // A USB drive is plugged in on purpose for this start, so it wins over
    // the card the system booted from.
    for (const QString &mount : {gUDiskPath, gSDCardPath}) {
        if (Util::isMountPoint(mount) != 1)
            continue;
        const QString candidate = mount + QLatin1Char('/') + value;
        if (existsAsDirOrFile(candidate))
            return candidate;
    }
    return QString();
}
