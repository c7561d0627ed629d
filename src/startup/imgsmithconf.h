// The program configuration file "imgsmith.conf": where it lives, how it is
// written, and the readers that the start-up code and the screens share.
//
// Every path here is the name the running system uses ("/mnt/sdcard/...");
// the functions resolve it through sysPath() when they touch the file
// system, so callers never pass resolved paths around.
#pragma once

#include <QString>
#include <QStringList>

// Where unattended installs (-i, --auto-exit) keep their generated file.
extern const char *const kInstallConfFileName;   // "/tmp/imgsmith.conf"

// Every key of the file with its value, defaults where the file or the key
// is missing.
struct ImgSmithConfValues
{
    bool fileExists = false;
    // [General]
    QString autoStart;
    bool autoExit = false;
    bool disableLowFormatting = false;
    bool autoRebootWhenSDBeEjected = true;
    bool verifyAfterWrite = false;
    // [UI]
    QString screenSizePercent = QStringLiteral("auto");
    QString welcomeMessage;
    bool hideMenuButton = false;
    bool hideBackupAndRestoreButton = false;
    bool hideStatusBar = false;
    QString osListViewType = QStringLiteral("list");
};

// imgsmithConfFileName when set (-c, or the generated install file),
// otherwise gSDCardPath + "/imgsmith.conf".
QString getImgSmithConfFileName();

// Reads every key of `fileName` afresh (no cache).
ImgSmithConfValues readImgSmithConf(const QString &fileName);

// Truncates and rewrites `fileName` with the commented layout of the file.
// Boards whose record asks for the short file get only the "[General]" part.
// Returns false, silently, when the file cannot be written.
bool genImgSmithConf(const QString &fileName, const QString &availableValues,
                     const QString &autoStart, bool autoExit,
                     const QString &screenSizePercent, const QString &welcomeMessage,
                     bool hideMenuButton, bool hideBackupAndRestoreButton,
                     bool hideStatusBar, bool disableLowFormatting, bool verifyAfterWrite = false);

// After a scan for image sets: writes the default file at
// getImgSmithConfFileName() unless a file exists there already. The
// available values list each image set relative to the mount point (one of
// `mountPoints`) it was found under. Returns true when a file was written.
bool writeDefaultImgSmithConf(const QStringList &imageSetPaths, const QStringList &mountPoints);

// The one-off file of an unattended start: keeps the "[UI]" keys and
// disableLowFormatting of the configuration in force, replaces
// "/tmp/imgsmith.conf" and makes it the configuration in force from now on.
bool writeInstallImgSmithConf(const QString &installPath, bool autoExit);

// Switches automatic installing on (an image set path) or off (empty) in
// the configuration in force, keeping its other keys. Returns false when the
// file cannot be written.
bool setImgSmithConfAutoStart(const QString &value);

// False when the file is missing or not a regular file.
bool globalIsDisabledLowFormatInConf();

// verifyAfterWrite of the configuration in force: read every image back
// after writing it. False when the file is missing or not a regular file.
bool globalIsVerifyAfterWriteInConf();

// An HDMI display is connected (drm status file, else the switch state).
bool isHDMILinked();

// Window size in percent of the screen: 100 (90 with HDMI) for "auto" or a
// missing file, a number 0..100 as written, else `currentPercent` unchanged.
int readScreenSizePercent(int currentPercent);

// The image set that autoStart names, as an absolute path: the value itself
// when absolute, else the first of "/mnt/udisk/<value>", "/mnt/sdcard/<value>"
// whose medium is mounted and holds it. Empty when there is none.
QString readAutoFlashingImagePathOrRawFile();
