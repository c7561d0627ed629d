// The shell scripts of the back-up mode: re-formatting the USB drive,
// growing and re-formatting the TF card's exFAT partition, and the wrapper
// that mounts the freshly written onboard system and runs the user's
// scripts against it. Every device and path in them is quoted through
// shellQuote: script and directory names come from removable media.
// Scripts are written as files for "/bin/bash"; paths are as the running
// system names them (the file itself is written below the simulation root).
#pragma once

#include <QString>
#include <QStringList>

class BackupScripts
{
public:
    // "/tmp/format_usb_drive", "/tmp/format_tf_drive".
    static const char *const USBFormatScriptFile;
    static const char *const TFFormatScriptFile;
    // Volume label of the TF card's exFAT partition.
    static const char *const TFCardVolumeLabel;

    // Lines for the USB drive `drive` ("sda"): unmount its first partition
    // (only when `mounted`), one DOS partition over the whole drive with
    // fdisk, ext4 labelled UDISK on it.
    static QString usbFormatScript(const QString &drive, const QString &firstPartition, bool mounted);
    // Lines for the TF card `card` ("mmcblk0"): unmount the data partition,
    // grow partition 1 to the end of the card, exFAT on it, mount it again.
    static QString tfFormatScript(const QString &card, const QString &firstPartition, const QString &mountPoint);

    // The wrapper of the user scripts (see makeOnboardFlashCustomeScript in
    // the back-up screen). `bootDev` and `dataDev` may be empty. Unmounts
    // the partitions the wrapper mounts first when they are mounted now.
    static QString onboardFlashCustomeScript(const QString &bootDev, const QString &rootDev, const QString &dataDev,
                                             const QString &scriptDir, const QStringList &scripts);
    static bool makeOnboardFlashCustomeScript(const QString &scriptFile, const QString &bootDev,
                                              const QString &rootDev, const QString &dataDev,
                                              const QString &scriptDir, const QStringList &scripts);

    // Writes `text` to the system path `file`, replacing an old file.
    static bool writeScript(const QString &file, const QString &text);
};
