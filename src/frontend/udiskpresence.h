// Whether the USB drive named by storage discovery is known to the kernel,
// from "/proc/partitions".
#pragma once

#include <QString>

class UDiskPresence
{
public:
    // 0 for an empty name or a drive that is not listed, 1 when the drive is
    // listed without its first partition, 2 with it, -1 when the table
    // cannot be read.
    static int checkUDiskStatus(const QString &devName);
};
