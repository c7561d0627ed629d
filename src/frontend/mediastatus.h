// What the console shows about the SD card's data partition and the USB
// drive: present, mounted, sizes, file system, read-only.
#pragma once

#include <QString>

class UDiskStatus;

struct MediaStatus
{
    QString devName;        // partition as the system names it ("/dev/sda1")
    bool present = false;
    bool mounted = false;
    bool readOnly = false;
    qint64 freeKiB = 0;
    qint64 totalKiB = 0;
    QString fsType;

    // The USB drive as the back-up mode's status record sees it.
    static MediaStatus fromUDiskStatus(const UDiskStatus &status, const QString &devName);
    // Reads the mount table and the file system figures of `mountPoint`.
    static MediaStatus read(const QString &mountPoint, const QString &devName, bool present);

    // " (<text>)" as the console menu shows it; `usbDrive` picks the wording
    // of the size failure.
    QString consoleText(bool usbDrive) const;
};
