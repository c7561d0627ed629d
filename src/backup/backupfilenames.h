// Names and files around a back-up image: the proposed image name on the
// chosen medium, the probe that the location takes a file, which medium a
// typed path lies on, and the ".d" script directory kept beside a back-up
// of a Linux system. Paths are as the running system names them.
#pragma once

#include <QString>

class BackupFileNames
{
public:
    // "<dir>/<board name in lower case>-<emmc|ufs>.raw" on the TF card
    // (kind 1, gSDCardPath) or the USB drive (kind 2, gUDiskPath); while
    // that exists, "-2", "-3", ... before ".raw" (the first free one).
    static QString genBackupFileName(int kind);

    // Creates `path`, writes a newline, closes and deletes it: true when the
    // location can take the back-up file.
    static bool isWritable(const QString &path);

    // 2 for a path on the USB drive, 1 on the TF card, 0 elsewhere.
    static int mediumOfPath(const QString &path);

    // Creates "<image>.d" when missing and writes "cleanup.sh" (with
    // `cleanupScript`) and "README.txt" into it. False when a file could
    // not be written.
    static bool writeScriptDirectory(const QString &imagePath, const QByteArray &cleanupScript);
};
