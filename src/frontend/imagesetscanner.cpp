#include "frontend/imagesetscanner.h"

#include "board/boardhardwareinfo.h"
#include "util/debugmode.h"
#include "util/qpaths.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace {

bool isRawImageName(const QString &name)
{
    return name.endsWith(QLatin1String(".raw")) || name.endsWith(QLatin1String(".gz"))
        || name.endsWith(QLatin1String(".xz")) || name.endsWith(QLatin1String(".zst"));
}

QStringList entriesOf(const QString &path, QDir::Filters filters)
{
    // Sorted by name so that the sets of one directory come out in the same
    // order on every scan, whatever order the file system lists them in.
    return QDir(sysPath(path)).entryList(filters | QDir::NoSymLinks | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

bool ImageSetScanner::looksLikeRootfs(const QString &path)
{
    const QDir dir(sysPath(path));
    for (const char *name : {"bin", "dev", "usr", "root", "home"}) {
        if (!QFileInfo(dir.filePath(QLatin1String(name))).isDir())
            return false;
    }
    return true;
}

void ImageSetScanner::logSkip(const OSConfig &os, const QString &what)
{
    qDebug().noquote() << "\t!!! Skip: " + what + ", this rom is for: " + os.requireBoards.join(QLatin1Char(','))
                              + ", but board is: "
                              + (gCurrentBoardInfo ? gCurrentBoardInfo->boardName : QString());
}

void ImageSetScanner::addRawFile(const QString &path, const QString &file, QList<OSConfig> &found) const
{
    const OSConfig os(path, file);
    if (!os.isValid)
        return;
    if (!os.isMatchBoard()) {
        logSkip(os, path + QLatin1Char('/') + file);
        return;
    }
    if (debugMode())
        qDebug().noquote() << "\t@@@ addRawFile: " + path + QLatin1Char('/') + file;
    found.append(os);
}

void ImageSetScanner::loadImageFromPath(const QString &path, int level, QList<OSConfig> &found) const
{
    if (level == 0 && looksLikeRootfs(path)) {
        qDebug().noquote() << path + " rootfs disk, skip it";
        return;
    }
    if (debugMode()) {
        if (level == 0)
            qDebug().noquote() << "### loadImageFromPath: " + path;
        else
            qDebug().noquote() << "--- enter path: " + path + ", level: " + QString::number(level);
    }
    if (level > kMaxLevel) {
        if (debugMode())
            qDebug() << "\t\tskiped this level";
        return;
    }

    QStringList files = entriesOf(path, QDir::Files);
    const bool hasMap = files.contains(QLatin1String("partmap.txt")) || files.contains(QLatin1String("parameter.txt"));
    QStringList remaining;
    for (const QString &file : files) {
        if (isRawImageName(file)) {
            addRawFile(path, file, found);
            continue;
        }
        // Without a partition map a directory of disk images offers each
        // image on its own.
        if (file.endsWith(QLatin1String(".img")) && file != QLatin1String("idbloader.img") && !hasMap) {
            addRawFile(path, file, found);
            continue;
        }
        // The settings file beside a raw image is not part of a set.
        if (file.endsWith(QLatin1String(".conf")) && file != QLatin1String("env.conf"))
            continue;
        remaining << file;
    }

    const OSConfig os(path, remaining);
    if (os.isValid) {
        if (os.isMatchBoard()) {
            if (debugMode())
                qDebug().noquote() << "\t@@@ addPath: " + path;
            found.append(os);
        } else {
            logSkip(os, path);
        }
    }

    // A set may hold further sets below it: always descend.
    for (const QString &dir : entriesOf(path, QDir::Dirs))
        loadImageFromPath(path + QLatin1Char('/') + dir, level + 1, found);
}

QList<OSConfig> ImageSetScanner::scan(const QStringList &mountPoints) const
{
    QList<OSConfig> sets;
    for (const QString &mount : mountPoints)
        loadImageFromPath(mount, 0, sets);
    std::stable_sort(sets.begin(), sets.end(),
                     [](const OSConfig &a, const OSConfig &b) { return a.osType < b.osType; });
    return sets;
}

bool ImageSetScanner::reSortOSListByRecommendedOS(QList<OSConfig> &sets, const QString &name)
{
    for (int i = 0; i < sets.size(); ++i) {
        QString dir = sets.at(i).imagePath;
        while (dir.endsWith(QLatin1Char('/')) || dir.endsWith(QLatin1Char('\\')))
            dir.chop(1);
        if (dir.endsWith(QLatin1Char('/') + name)) {
            sets.move(i, 0);
            qDebug().noquote() << "reSortOSListByRecommendedOS(" + name + ") result: got it";
            return true;
        }
    }
    qDebug().noquote() << "reSortOSListByRecommendedOS(" + name + ") result: not found image path";
    return false;
}

QString ImageSetScanner::autoStartPathOf(const OSConfig &os)
{
    if (os.osType == RawImage)
        return os.imagePath + QLatin1Char('/') + os.os_raw_img;
    return os.imagePath;
}
