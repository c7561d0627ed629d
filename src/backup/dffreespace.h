// Free space of a mounted partition as df reports it, the way every
// back-up check asks: df's fourth column (free 1-KiB blocks) of the line
// that starts with the partition, through a temporary file.
#pragma once

#include <QString>

// Runs `df | grep '^<partition>' | awk '{ print $4 "\t" }' > <tmpFile>`
// through /bin/sh (both names quoted), reads the file, deletes it. `tmpFile`
// is a system path ("/tmp/udiskfreesize"), resolved here. Returns true with
// *kib set when the output was one decimal number; false when the file was
// not written or held anything else (several lines, text).
bool readDfFreeSpaceKiB(const QString &partition, const QString &tmpFile, qint64 *kib);
