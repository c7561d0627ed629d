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
