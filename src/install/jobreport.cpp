#include "install/jobreport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "board/boardhardwareinfo.h"
#include "board/targetdevice.h"
#include "imageset/osconfig.h"
#include "startup/globals.h"
#include "util/log2file.h"
#include "util/paths.h"
#include "util/qpaths.h"
#include "util/util.h"

const char *const JobReport::kFileName = "imgsmith-report.jsonl";

namespace {

bool isBelow(const QString &path, const QString &dir)
{
    return !dir.isEmpty() && (path == dir || path.startsWith(dir + QLatin1Char('/')));
}

// `path` with every link resolved, as the system names it; unchanged when
// it cannot be resolved or resolves outside the simulated board.
QString realSystemPath(const QString &path)
{
    const QString real = QFileInfo(sysPath(path)).canonicalFilePath();
    if (real.isEmpty())
        return QDir::cleanPath(path);
    const QString root = QString::fromStdString(imgsmith::simRoot());
    if (root.isEmpty())
        return real;
    const QString realRoot = QFileInfo(root).canonicalFilePath();
    if (!realRoot.isEmpty() && real.startsWith(realRoot + QLatin1Char('/')))
        return real.mid(realRoot.size());
    return QDir::cleanPath(path);
}

// The path a record names: as given when it lies on a medium, else where
// its links lead. imgsmith-install reaches a set whose name is not text
// through a link in /tmp; the record and its medium follow the link.
QString reportedPath(const QString &path)
{
    const QString clean = QDir::cleanPath(path);
    return JobReport::mediumOf(clean).isEmpty() ? realSystemPath(path) : clean;
}

QByteArray local(const QString &s)
{
    return s.toLocal8Bit();
}

} // namespace

JobReport::JobReport(const QString &operation) : m_operation(operation)
{
    m_clock.start();
    m_time = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    const BoardHardwareInfo *board = gCurrentBoardInfo;
    m_board.insert(QStringLiteral("name"), board ? board->boardName : QString());
    m_board.insert(QStringLiteral("cpu"), board ? board->cpuName : QString());
    m_board.insert(QStringLiteral("cpuId"), board ? board->getCPUID() : QString());
}

void JobReport::setImageSet(const QString &path, const QString &kind)
{
    m_imageSet.insert(QStringLiteral("path"), reportedPath(path));
    m_imageSet.insert(QStringLiteral("kind"), kind);
}

void JobReport::addDevice(const QString &role, const TargetDevice &device, qint64 bytes)
{
    QString model = device.model;
    if (model.isEmpty() && device.kind == TargetDeviceEMMC && gCurrentBoardInfo)
        model = gCurrentBoardInfo->getEMMCModel();
    if (bytes < 0)
        bytes = gCurrentBoardInfo ? gCurrentBoardInfo->getDiskSize(device.devName) * 1024 : 0;
    QJsonObject o;
    o.insert(QStringLiteral("role"), role);
    o.insert(QStringLiteral("device"), device.getFullDevName());
    o.insert(QStringLiteral("kind"), device.kindName());
    o.insert(QStringLiteral("model"), model);
    o.insert(QStringLiteral("bytes"), bytes);
    m_devices.append(o);
}

void JobReport::addImage(const QString &name, const QString &partition, qint64 bytes, const QString &hash)
{
    QJsonObject o;
    o.insert(QStringLiteral("name"), reportedPath(name));
    o.insert(QStringLiteral("partition"), partition);
    o.insert(QStringLiteral("bytes"), bytes);
    if (!hash.isEmpty())
        o.insert(QStringLiteral("xxh3"), hash);
    m_images.append(o);
    m_bytes += bytes;
}

void JobReport::addBackupImage(const QString &file, qint64 bytes, const QString &sha256)
{
    QJsonObject o;
    o.insert(QStringLiteral("name"), reportedPath(file));
    o.insert(QStringLiteral("bytes"), bytes);
    o.insert(QStringLiteral("sha256"), sha256);
    m_images.append(o);
    m_bytes += bytes;
}

void JobReport::finish(Result result, const QString &error)
{
    m_elapsedMs = m_clock.elapsed();
    m_result = result == Ok ? QStringLiteral("ok")
             : result == Cancelled ? QStringLiteral("cancelled")
                                   : QStringLiteral("failed");
    m_error = result == Ok ? QString() : error;
}

QJsonObject JobReport::toJson() const
{
    QJsonObject o;
    o.insert(QStringLiteral("time"), m_time);
    o.insert(QStringLiteral("operation"), m_operation);
    o.insert(QStringLiteral("board"), m_board);
    o.insert(QStringLiteral("imageSet"), m_imageSet);
    QJsonArray targets;
    for (const QJsonValue &d : m_devices) {
        if (d.toObject().value(QStringLiteral("role")) == QLatin1String("source"))
            o.insert(QStringLiteral("source"), d);
        else
            targets.append(d);
    }
    if (!o.contains(QStringLiteral("source")))
        o.insert(QStringLiteral("targets"), targets);
    o.insert(QStringLiteral("images"), m_images);
    o.insert(QStringLiteral("lowFormat"), m_lowFormat);
    o.insert(QStringLiteral("durationSeconds"), m_elapsedMs / 1000.0);
    // Whole milliseconds: a job quicker than that has no meaningful speed.
    o.insert(QStringLiteral("bytesPerSecond"), m_elapsedMs > 0 ? m_bytes * 1000 / m_elapsedMs : 0);
    o.insert(QStringLiteral("result"), m_result);
    o.insert(QStringLiteral("error"), m_error);
    return o;
}

QString JobReport::mediumOf(const QString &path)
{
    const QString clean = QDir::cleanPath(path);
    for (const QString &medium : {gSDCardPath, gUDiskPath}) {
        if (isBelow(clean, QDir::cleanPath(medium)))
            return QDir::cleanPath(medium);
    }
    // Another drive mounted where removable media go: the nearest mount
    // point above the path. The system's own file systems (/, /tmp) are no
    // medium.
    if (!isBelow(clean, QStringLiteral("/mnt")) && !isBelow(clean, QStringLiteral("/media")))
        return QString();
    for (QString dir = clean; dir.count(QLatin1Char('/')) > 1; dir = QFileInfo(dir).path()) {
        if (Util::isMountPoint(dir) == 1)
            return dir;
    }
    return QString();
}

bool JobReport::appendToMediumOf(const QString &pathOnMedium) const
{
    const QString medium = mediumOf(reportedPath(pathOnMedium));
    if (medium.isEmpty()) {
        log2file("report: %s is on neither the SD card nor a USB drive, no %s written\n",
                 local(pathOnMedium).constData(), kFileName);
        return false;
    }
    char type[64];
    char options[1024];
    if (Util::getMountPointStatus(medium, type, sizeof(type), options, sizeof(options), nullptr, nullptr) == 1
        && Util::isReadOnlyMountOptions(QString::fromLocal8Bit(options))) {
        log2file("report: %s is mounted read-only, no %s written\n", local(medium).constData(), kFileName);
        return false;
    }
    const QString file = medium + QLatin1Char('/') + QLatin1String(kFileName);
    const int ret = appendLine(sysPath(file), QJsonDocument(toJson()).toJson(QJsonDocument::Compact));
    if (ret != 0) {
        log2file("report: cannot write %s: %s\n", local(file).constData(), strerror(-ret));
        return false;
    }
    return true;
}

int JobReport::appendLine(const QString &file, const QByteArray &line)
{
    const QByteArray name = QFile::encodeName(file);
    // Read access only to look at the last byte; O_APPEND keeps every write
    // at the end whatever that finds.
    const int fd = open(name.constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return -errno;
    int ret = 0;
    struct stat st;
    QByteArray data;
    if (fstat(fd, &st) != 0) {
        ret = -errno;
    } else if (st.st_size > 0) {
        char last = '\n';
        const ssize_t r = pread(fd, &last, 1, st.st_size - 1);
        if (r < 0)
            ret = -errno;
        else if (r == 1 && last != '\n')
            data.append('\n');
    }
    data.append(line).append('\n');
    // One write() of the whole record: a power cut leaves the line whole or
    // cut at its end, never interleaved; the next record starts on its own line.
    if (ret == 0) {
        const ssize_t n = write(fd, data.constData(), size_t(data.size()));
        if (n != data.size())
            ret = n < 0 ? -errno : -ENOSPC;
    }
    if (ret == 0 && fsync(fd) != 0)
        ret = -errno;
    if (close(fd) != 0 && ret == 0)
        ret = -errno;
    if (ret == 0 && st.st_size == 0) {
        // A new file is durable only once its directory entry is.
        const int dir = open(QFile::encodeName(QFileInfo(file).path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            // Best effort: the record itself is already on the medium.
            if (fsync(dir) != 0)
                log2file("report: fsync of %s failed: %s\n", name.constData(), strerror(errno));
            close(dir);
        }
    }
    return ret;
}

QString JobReport::kindName(int osType)
{
    static const char *const names[] = {
        "Android", "Ubuntu", "Lumabase", "Lumadesk", "Lubuntu", "OpenWrt", "Lumaroute", "Debian",
        "OpenMediaVault", "Proxmox", "OpenHarmony", "Rocknix", "Alpine", "Buildroot", "Linux", "RawImage",
    };
    if (osType < 0 || osType >= int(sizeof(names) / sizeof(names[0])))
        return QString();
    return QLatin1String(names[osType]);
}
