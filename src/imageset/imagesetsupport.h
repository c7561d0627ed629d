// Small helpers of the image set model that other subsystems will offer
// shared versions of (sizes for display, filesystem probe). Kept private to src/imageset.
#pragma once

#include <QString>

namespace imageset {

// Human-readable size: "1023 bytes", "2 KB", "3.0 GB", "1.50 TB".
QString sizeHuman(qint64 bytes);

// "btrfs", "ext4" or "unknow" for the filesystem image at `path`.
QString probeRootfsType(const QString &path);

// Removes trailing "/" and "\" characters, keeping at least one character.
QString removeDirRightSeparator(const QString &path);

// One debug line on standard error, only in debug mode.
void debugLine(const QString &line);

} // namespace imageset
