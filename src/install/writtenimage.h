// One image the install job put on a device, as an install record lists it.
#pragma once

#include <QString>

struct WrittenImage
{
    QString image;       // the image file, as the running system names it
    QString partition;   // partition name ("root" for a whole-disk image)
    qint64 bytes = 0;    // bytes the writer put on the device (expanded size)
    QString hash;        // XXH3-64 of those bytes in hex, empty unless verified
};

// For a loader that a stage wrote on its own (UFS boot unit, U-Boot at its
// fixed sectors), while its device is still open: when verification is on,
// reads back what the writer recorded and returns the failure text naming
// `name` and `partition`; empty when it read back as written or
// verification is off. Clears the record either way.
QString verifyWrittenLoader(const char *device, const QString &name, const QString &partition);
