// Board finishing of a ROCKNIX set, after its generic disk image has been
// written: the board's own U-Boot goes into the Rockchip loader area, and a
// generated bash script points the new system's boot menu
// ("extlinux/extlinux.conf" on its first partition) at the board's device
// tree and copies that file there.
//
// Both steps run on the install worker thread and return the message the
// job posts before it stops ("" on success); they post nothing themselves
// except progress through the sink.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// The signature of the install job's postProgressMessage (erasing,
// imageName, partitionName, percent, fileCount, fileIndex).
using RocknixProgressSink = std::function<void(bool, const QString &, const QString &, int, int, int)>;

// Byte offset of the U-Boot file on the device: the Rockchip IDB loader
// area starts at sector 64 (of 512 bytes).
constexpr qint64 ROCKNIX_UBOOT_OFFSET = 64 * 512;

// The first partition of `devicePath` as the kernel names it: "p1" after a
// name ending in a digit ("/dev/mmcblk2p1", "/dev/nvme0n1p1"), else "1"
// ("/dev/sda1", "/dev/sdb1" for a Rockchip UFS boot unit).
QString rocknixBootPartition(const QString &devicePath);

// Writes the file `ubootPath` (imagePath + "/" + os_rocknix_uboot_bin) at
// byte ROCKNIX_UBOOT_OFFSET of `devicePath` (the boot plan's device, as the
// running system names it) with write_image; progress 0 % ("root") before
// and 100 % ("uboot") after, file 1 of 1. Releases the device on every path.
QString rocknixWriteUboot(const QString &devicePath, const QString &ubootPath,
                          const RocknixProgressSink &progress);

// The text of "/tmp/rocknix_change_dtb.sh" for the boot partition
// `bootPartition` (resolved), the device tree file name `dtbName` and its
// full path `dtbPath`.
QString rocknixChangeDtbScript(const QString &bootPartition, const QString &dtbName, const QString &dtbPath);

// Writes the script for the first partition of `devicePath`, runs it with
// bash and waits for it. Fails unless the script ran to its end: exit status
// 0, the OK marker made and no error marker.
QString rocknixChangeDtb(const QString &devicePath, const QString &dtbName, const QString &dtbPath);

// Both steps in order, for the install job's ROCKNIX stage.
QString rocknixFinish(const QString &devicePath, const QString &ubootPath, const QString &dtbName,
                      const QString &dtbPath, const RocknixProgressSink &progress);

// The script, its log and the two marker files (resolved paths), which the
// job deletes when it finishes outside debug mode.
QStringList rocknixScriptFiles();
