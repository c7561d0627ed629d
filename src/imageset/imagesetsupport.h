// Small helpers shared by the image set sources (private to src/imageset).
#pragma once

#include <QString>

namespace imageset {

// "btrfs", "ext4" or "unknow" for the filesystem image at `path`.
QString probeRootfsType(const QString &path);

// One debug line on standard error, only in debug mode.
void debugLine(const QString &line);

} // namespace imageset
