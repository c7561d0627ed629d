// Finds the image sets on the mounted media: the directory walk with its
// level limit and its rules for raw image files, the order the sets are shown
// in, and the move of the board's recommended set to the front.
//
// Paths are named as the running system names them ("/mnt/sdcard/..."); the
// walk resolves them through the simulation root when it lists directories.
#pragma once

#include "imageset/osconfig.h"

#include <QList>
#include <QString>
#include <QStringList>

class ImageSetScanner
{
public:
    // The deepest directory level below a mount point that is still looked
    // at: the mount point is level 0.
    static constexpr int kMaxLevel = 2;

    // Walks `path` (a mount point at level 0) and appends every valid image
    // set that matches the running board to `found`.
    void loadImageFromPath(const QString &path, int level, QList<OSConfig> &found) const;

    // The image sets of every mount point in `mountPoints`, in scan order,
    // sorted by kind (osType ascending; equal kinds keep their scan order).
    QList<OSConfig> scan(const QStringList &mountPoints) const;

    // Moves the first set whose directory ends in "/<name>" to the front.
    // Returns false (and leaves the list alone) when there is none.
    static bool reSortOSListByRecommendedOS(QList<OSConfig> &sets, const QString &name);

    // The path that names `os` in "autoStart": the directory, or for a raw
    // image set the directory and the file name.
    static QString autoStartPathOf(const OSConfig &os);

    // A directory holding bin, dev, usr, root and home is a copied root file
    // system, not a medium of image sets.
    static bool looksLikeRootfs(const QString &path);

private:
    void addRawFile(const QString &path, const QString &file, QList<OSConfig> &found) const;
    static void logSkip(const OSConfig &os, const QString &what);
};
