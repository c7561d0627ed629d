// Partition labels and types through libblkid, and the ext4/btrfs magic
// probes, on images made by the real tools and checked against blkid -p.
#include "support/testsupport.h"
#include "util/fsprobe.h"
#include "util/util.h"
#include "support/qt/simboard.h"

#include <gtest/gtest.h>

#include <QMap>

#include <sys/stat.h>

using namespace testsupport;

namespace {

QString q(const std::string &s) { return QString::fromStdString(s); }

// What blkid, independent of our code, reports for one field of a file or
// an offset inside it.
std::string blkidValue(const std::string &path, const std::string &tag, long long offset = 0)
{
    std::string cmd = "blkid -p -o value -s " + tag;
    if (offset)
        cmd += " -O " + std::to_string(offset);
    CmdResult r = run(cmd + " " + shq(path));
    while (!r.out.empty() && r.out.back() == '\n')
        r.out.pop_back();
    return r.out;
}

// A 40 MiB disk image: an 8 MiB FAT partition "BOOT" and an ext4 partition
// labelled `rootLabel`, laid out by sfdisk (MBR) and filled through mkfs on
// the image at the partition offsets.
bool makeDiskImage(const std::string &img, const std::string &rootLabel,
                   std::string *why)
{
    makeSparseFile(img, 40 << 20);
    CmdResult r = run("printf 'start=2048, size=16384, type=c\\nstart=18432, type=83\\n' | sfdisk -q "
                      + shq(img));
    if (r.status != 0) {
        *why = "sfdisk: " + r.err;
        return false;
    }
    const std::string p1 = img + ".p1", p2 = img + ".p2";
    r = run("mkfs.vfat -n BOOT -C " + shq(p1) + " 8192 >/dev/null && mkfs.ext4 -q -F -L "
            + shq(rootLabel) + " " + shq(p2) + " 31743 && dd if=" + shq(p1) + " of=" + shq(img)
            + " bs=512 seek=2048 conv=notrunc status=none && dd if=" + shq(p2) + " of=" + shq(img)
            + " bs=512 seek=18432 conv=notrunc status=none");
    if (r.status != 0) {
        *why = "mkfs: " + r.err;
        return false;
    }
    return true;
}

} // namespace

TEST(FsProbe, RecognisesRealExt4AndBtrfsImagesOnly)
{
    REQUIRE_TOOLS("mkfs.ext4", "mkfs.btrfs", "mkfs.vfat");
    TempDir d;
    const std::string ext4 = d.file("ext4.img"), btrfs = d.file("btrfs.img"), fat = d.file("fat.img");
    makeSparseFile(ext4, 8 << 20);
    makeSparseFile(btrfs, 32 << 20);
    ASSERT_EQ(run("mkfs.ext4 -q -F " + shq(ext4)).status, 0);
    ASSERT_EQ(run("mkfs.btrfs -q -f -M " + shq(btrfs) + " >/dev/null").status, 0);
    ASSERT_EQ(run("mkfs.vfat -C " + shq(fat) + " 4096 >/dev/null").status, 0);
    ASSERT_EQ(blkidValue(ext4, "TYPE"), "ext4");
    ASSERT_EQ(blkidValue(btrfs, "TYPE"), "btrfs");

    EXPECT_EQ(is_ext4_filesystem(ext4.c_str()), 1);
    EXPECT_EQ(is_btrfs_image(ext4.c_str()), 0);
    EXPECT_EQ(is_btrfs_image(btrfs.c_str()), 1);
    EXPECT_EQ(is_ext4_filesystem(btrfs.c_str()), 0);
    EXPECT_EQ(is_ext4_filesystem(fat.c_str()), 0);
    EXPECT_EQ(is_btrfs_image(fat.c_str()), 0);

    // Files too short to hold a superblock, and missing files: never a filesystem.
    // The magic alone, with the file ending inside the superblock: too short.
    const std::string cut = d.file("cut.img");
    writeBytes(cut, 0, readBytes(ext4, 0, 1024 + 60));
    EXPECT_EQ(is_ext4_filesystem(cut.c_str()), -1);
    writeBytes(cut, 0, readBytes(btrfs, 0, 65536 + 100));
    EXPECT_EQ(is_btrfs_image(cut.c_str()), 0);
    EXPECT_EQ(is_ext4_filesystem(d.file("missing").c_str()), -1);
    EXPECT_EQ(is_btrfs_image(d.file("missing").c_str()), 0);
    EXPECT_EQ(is_ext4_filesystem(nullptr), -1);
}

TEST(PartitionInfo, DiskImageInSimulationRoot)
{
    REQUIRE_TOOLS("sfdisk", "mkfs.ext4", "mkfs.vfat", "blkid");
    SimRoot d;
    mkdir(d.file("dev").c_str(), 0755);
    const std::string img = d.file("dev/mmcblk2");
    std::string err;
    ASSERT_TRUE(makeDiskImage(img, "rootfs", &err)) << err;

    QMap<QString, QString> labels, types;
    labels["stale"] = "x";
    ASSERT_EQ(Util::getPartitionInfo("/dev/mmcblk2", labels, types), 2);
    EXPECT_EQ(labels.keys(), QStringList({"/dev/mmcblk2p1", "/dev/mmcblk2p2"}));
    EXPECT_EQ(labels["/dev/mmcblk2p1"].toStdString(), blkidValue(img, "LABEL", 2048LL * 512));
    EXPECT_EQ(types["/dev/mmcblk2p1"].toStdString(), blkidValue(img, "TYPE", 2048LL * 512));
    EXPECT_EQ(labels["/dev/mmcblk2p2"], "rootfs");
    EXPECT_EQ(types["/dev/mmcblk2p2"], "ext4");
    EXPECT_EQ(Util::getCurrntOSInOnboardFlash(labels, types), "linux");
    // The same label on a file system other than ext4 names no OS.
    QMap<QString, QString> btrfs = types;
    btrfs["/dev/mmcblk2p2"] = "btrfs";
    EXPECT_EQ(Util::getCurrntOSInOnboardFlash(labels, btrfs), "unknow");

    // The resolved path names the same device and gives the same keys.
    QMap<QString, QString> labels2, types2;
    EXPECT_EQ(Util::getPartitionInfo(q(img), labels2, types2), 2);
    EXPECT_EQ(labels2, labels);

    // No partition table, no device: -1 and both maps empty.
    writeBytes(d.file("dev/sdb"), 0, patternBytes(1 << 20, 3));
    EXPECT_EQ(Util::getPartitionInfo("/dev/sdb", labels, types), -1);
    EXPECT_TRUE(labels.isEmpty());
    EXPECT_TRUE(types.isEmpty());
    EXPECT_EQ(Util::getPartitionInfo("/dev/nvme0n1", labels, types), -1);
    EXPECT_EQ(Util::getCurrntOSInOnboardFlash(labels, types), "unknow");
}

TEST(PartitionInfo, LogicalPartitionsKeepTheirKernelNumbers)
{
    REQUIRE_TOOLS("sfdisk", "mkfs.ext4");
    SimRoot d;
    mkdir(d.file("dev").c_str(), 0755);
    const std::string img = d.file("dev/sda");
    makeSparseFile(img, 40 << 20);
    // p1 primary, p2 extended holding p5 and p6.
    ASSERT_EQ(run("printf 'start=2048, size=8192, type=83\\nstart=10240, type=5\\n"
                  "start=12288, size=8192, type=83\\nstart=22528, size=8192, type=83\\n' | sfdisk -q "
                  + shq(img)).status, 0);
    const std::string p6 = d.file("p6.img");
    ASSERT_EQ(run("mkfs.ext4 -q -F -L SYSTEM " + shq(p6) + " 4096 && dd if=" + shq(p6) + " of="
                  + shq(img) + " bs=512 seek=22528 conv=notrunc status=none").status, 0);
    ASSERT_EQ(blkidValue(img, "LABEL", 22528LL * 512), "SYSTEM");

    QMap<QString, QString> labels, types;
    ASSERT_GE(Util::getPartitionInfo("/dev/sda", labels, types), 3);
    EXPECT_TRUE(labels.contains("/dev/sda1"));
    EXPECT_TRUE(labels.contains("/dev/sda5"));
    EXPECT_EQ(labels.value("/dev/sda6"), "SYSTEM");
    EXPECT_EQ(types.value("/dev/sda6"), "ext4");
    EXPECT_FALSE(labels.contains("/dev/sda3"));
    EXPECT_EQ(Util::getCurrntOSInOnboardFlash(labels, types), "android");
}

TEST(PartitionInfo, LoopDeviceWithPartitionScan)
{
    const std::string loopWhy = loopUnavailableReason();
    if (!loopWhy.empty())
        GTEST_SKIP() << loopWhy;
    REQUIRE_TOOLS("sfdisk", "mkfs.ext4", "mkfs.vfat", "blkid");
    TempDir d;
    const std::string img = d.file("disk.img");
    std::string err;
    ASSERT_TRUE(makeDiskImage(img, "rootfs", &err)) << err;
    LoopDevice loop(img, 512, true);
    if (!loop.ok())
        GTEST_SKIP() << "cannot attach a loop device: " << loop.error();
    const QString dev = q(loop.dev());

    QMap<QString, QString> labels, types;
    ASSERT_EQ(Util::getPartitionInfo(dev, labels, types), 2);
    const QString p1 = dev + "p1", p2 = dev + "p2";
    EXPECT_EQ(labels.keys(), QStringList({p1, p2}));
    EXPECT_EQ(labels[p2], "rootfs");
    struct stat st;
    if (stat(p2.toStdString().c_str(), &st) == 0) {
        // The kernel's partition node, read by blkid, says the same.
        EXPECT_EQ(labels[p2].toStdString(), blkidValue(p2.toStdString(), "LABEL"));
        EXPECT_EQ(types[p1].toStdString(), blkidValue(p1.toStdString(), "TYPE"));
    }
    EXPECT_EQ(Util::getCurrntOSInOnboardFlash(labels, types), "linux");
}
