// Util::getPartitionInfo: labels and filesystem types of the partitions of a
// disk, through libblkid.
#include "util/util.h"

#include <QDebug>
#include <QFileInfo>

#include <blkid/blkid.h>
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "util/debugmode.h"
#include "util/paths.h"

namespace {

struct FsValues
{
    QString label;
    QString type;
};

void lookupValues(blkid_probe pr, FsValues *out)
{
    const char *value = nullptr;
    if (blkid_probe_lookup_value(pr, "LABEL", &value, nullptr) == 0 && value)
        out->label = QString::fromUtf8(value);
    value = nullptr;
    if (blkid_probe_lookup_value(pr, "TYPE", &value, nullptr) == 0 && value)
        out->type = QString::fromUtf8(value);
}

void enableSuperblocks(blkid_probe pr)
{
    blkid_probe_enable_superblocks(pr, 1);
    blkid_probe_set_superblocks_flags(pr, BLKID_SUBLKS_LABEL | BLKID_SUBLKS_TYPE);
    blkid_probe_enable_partitions(pr, 0);
}

// Probes the filesystem of one partition through its own device node.
bool probeNode(const std::string &node, FsValues *out)
{
    blkid_probe pr = blkid_new_probe_from_filename(node.c_str());
    if (!pr)
        return false;
    enableSuperblocks(pr);
    const bool ok = blkid_do_probe(pr) >= 0;
    if (ok)
        lookupValues(pr, out);
    blkid_free_probe(pr);
    return ok;
}

// Probes the byte range of one partition inside the whole disk. Used where
// no partition node exists (a disk image in a simulation root, a loop device
// attached without partition scanning, or a node udev has not created yet).
bool probeRange(const std::string &disk, int64_t offset, int64_t size, FsValues *out)
{
    const int fd = ::open(disk.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = false;
    blkid_probe pr = blkid_new_probe();
    if (pr && blkid_probe_set_device(pr, fd, offset, size) == 0) {
        enableSuperblocks(pr);
        ok = blkid_do_probe(pr) >= 0;
        if (ok)
            lookupValues(pr, out);
    }
    if (pr)
        blkid_free_probe(pr);
    ::close(fd);
    return ok;
}

// The kernel names partitions "<disk><n>", with a "p" between when the disk
// name ends in a digit (mmcblk2p1, nvme0n1p1, loop0p1; but sda1, vda1).
QString partitionPath(const QString &device, int n)
{
    const QString name = QFileInfo(device).fileName();
    const bool digitEnd = !name.isEmpty() && name.back().isDigit();
    return digitEnd ? QStringLiteral("%1p%2").arg(device).arg(n)
                    : QStringLiteral("%1%2").arg(device).arg(n);
}

} // namespace

int Util::getPartitionInfo(const QString &device, QMap<QString, QString> &labels,
                           QMap<QString, QString> &types)
{
    labels.clear();
    types.clear();
    if (device.isEmpty())
        return -1;
    // Keys name partitions as the running system does; files are opened
    // below the simulation root.
    const QString systemDevice = QString::fromStdString(imgsmith::unSysPath(device.toStdString()));
    const std::string disk = imgsmith::sysPath(systemDevice.toStdString());

    blkid_probe pr = blkid_new_probe_from_filename(disk.c_str());
    if (!pr) {
        if (debugMode())
            qDebug() << "getPartitionInfo: cannot probe" << device;
        return -1;
    }
    blkid_partlist list = blkid_probe_get_partitions(pr);
    if (!list) {
        blkid_free_probe(pr);
        return -1;
    }
    const int count = blkid_partlist_numof_partitions(list);
    if (count < 0) {
        blkid_free_probe(pr);
        return -1;
    }
    for (int i = 0; i < count; ++i) {
        blkid_partition part = blkid_partlist_get_partition(list, i);
        if (!part)
            continue;
        const int number = blkid_partition_get_partno(part);
        const QString path = partitionPath(systemDevice, number > 0 ? number : i + 1);
        const std::string node = imgsmith::sysPath(path.toStdString());

        FsValues values;
        struct stat st;
        bool probed = false;
        if (::stat(node.c_str(), &st) == 0 && S_ISBLK(st.st_mode))
            probed = probeNode(node, &values);
        if (!probed) {
            // Partition start and size are in 512-byte sectors whatever the
            // logical sector size of the disk.
            const int64_t start = int64_t(blkid_partition_get_start(part)) * 512;
            const int64_t size = int64_t(blkid_partition_get_size(part)) * 512;
            probeRange(disk, start, size, &values);
        }
        labels[path] = values.label;
        types[path] = values.type;
    }
    blkid_free_probe(pr);
    return count;
}
