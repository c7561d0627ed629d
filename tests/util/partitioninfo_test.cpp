// Partition labels and types through libblkid, and the ext4/btrfs magic
// probes, on images made by the real tools and checked against blkid -p.
#include "util/fsprobe.h"
#include "util/util.h"
#include "support/qt/simboard.h"

#include <gtest/gtest.h>

#include <QMap>

#include <sys/stat.h>
#include <unistd.h>

using namespace testsupport;

namespace {

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

} // namespace

// A 40 MiB disk image laid out by sfdisk (MBR): p1 an 8 MiB FAT "BOOT", p2
// an extended partition holding p5, an ext4 "rootfs"; the file systems made
// by mkfs beside it (<img>.p1, <img>.p5) and copied in at their offsets.
TEST(PartitionInfo, DiskImageInSimulationRootAndOnALoopDevice)
{
    REQUIRE_TOOLS("sfdisk", "mkfs.ext4", "mkfs.vfat", "mkfs.btrfs", "blkid");
    SimRoot d;
    const std::string img = d.file("dev/mmcblk2"), p1 = img + ".p1", p5 = img + ".p5";
    makeSparseFile(img, 40 << 20);
    ASSERT_EQ(run("printf 'start=2048, size=16384, type=c\\nstart=18432, type=5\\nstart=20480, type=83\\n' | "
                  "sfdisk -q " + shq(img)).status, 0);
    ASSERT_EQ(run("mkfs.vfat -n BOOT -C " + shq(p1) + " 8192 >/dev/null && mkfs.ext4 -q -F -L rootfs " + shq(p5)
                  + " 30000 && dd if=" + shq(p1) + " of=" + shq(img) + " bs=512 seek=2048 conv=notrunc status=none"
                  + " && dd if=" + shq(p5) + " of=" + shq(img) + " bs=512 seek=20480 conv=notrunc status=none").status,
              0);
    ASSERT_EQ(blkidValue(img, "LABEL", 20480LL * 512), "rootfs");

    // The magic probes: real ext4 and btrfs images only.
    const std::string btrfs = d.file("btrfs.img"), cut = d.file("cut.img");
    makeSparseFile(btrfs, 32 << 20);
    ASSERT_EQ(run("mkfs.btrfs -q -f -M " + shq(btrfs) + " >/dev/null").status, 0);
    ASSERT_EQ(blkidValue(btrfs, "TYPE"), "btrfs");
    EXPECT_EQ(is_ext4_filesystem(p5.c_str()), 1);
    EXPECT_EQ(is_btrfs_image(p5.c_str()), 0);
    EXPECT_EQ(is_btrfs_image(btrfs.c_str()), 1);
    EXPECT_EQ(is_ext4_filesystem(btrfs.c_str()), 0);
    EXPECT_EQ(is_ext4_filesystem(p1.c_str()), 0);
    EXPECT_EQ(is_btrfs_image(p1.c_str()), 0);
    // Files too short to hold a superblock (the magic alone, the file ending
    // inside the superblock), and missing files: never a file system.
    writeBytes(cut, 0, readBytes(p5, 0, 1024 + 60));
    EXPECT_EQ(is_ext4_filesystem(cut.c_str()), -1);
    writeBytes(cut, 0, readBytes(btrfs, 0, 65536 + 100));
    EXPECT_EQ(is_btrfs_image(cut.c_str()), 0);
    EXPECT_EQ(is_ext4_filesystem(d.file("missing").c_str()), -1);
    EXPECT_EQ(is_btrfs_image(d.file("missing").c_str()), 0);
    EXPECT_EQ(is_ext4_filesystem(nullptr), -1);

    // Logical partitions keep their kernel numbers (p5, no p3).
    QMap<QString, QString> labels, types;
    labels["stale"] = "x";
    ASSERT_EQ(Util::getPartitionInfo("/dev/mmcblk2", labels, types), 3);
    EXPECT_EQ(labels.keys(), QStringList({"/dev/mmcblk2p1", "/dev/mmcblk2p2", "/dev/mmcblk2p5"}));
    EXPECT_EQ(labels["/dev/mmcblk2p1"].toStdString(), blkidValue(img, "LABEL", 2048LL * 512));
    EXPECT_EQ(types["/dev/mmcblk2p1"].toStdString(), blkidValue(img, "TYPE", 2048LL * 512));
    EXPECT_EQ(labels["/dev/mmcblk2p5"], "rootfs");
    EXPECT_EQ(types["/dev/mmcblk2p5"], "ext4");
    EXPECT_EQ(Util::getCurrntOSInOnboardFlash(labels, types), "linux");
    // The same label on a file system other than ext4 names no OS; a
    // "system" partition in any case is Android's.
    QMap<QString, QString> btrfsTypes = types, android = labels;
    btrfsTypes["/dev/mmcblk2p5"] = "btrfs";
    EXPECT_EQ(Util::getCurrntOSInOnboardFlash(labels, btrfsTypes), "unknow");
    android["/dev/mmcblk2p1"] = "SYSTEM";
    EXPECT_EQ(Util::getCurrntOSInOnboardFlash(android, btrfsTypes), "android");

    // The resolved path names the same device and gives the same keys.
    QMap<QString, QString> labels2, types2;
    EXPECT_EQ(Util::getPartitionInfo(qstr(img), labels2, types2), 3);
    EXPECT_EQ(labels2, labels);

    // A loop device with partition scan: the kernel's partition nodes, read
    // by blkid, say the same.
    const std::string loopWhy = loopUnavailableReason();
    if (loopWhy.empty()) {
        LoopDevice loop(img, 512, true);
        ASSERT_TRUE(loop.ok()) << loop.error();
        // Reached below the simulation root through a link to the real node.
        ASSERT_EQ(symlink(loop.dev().c_str(), d.file(loop.dev().substr(1)).c_str()), 0);
        const QString dev = qstr(loop.dev()), lp1 = dev + "p1", lp5 = dev + "p5";
        QMap<QString, QString> loopLabels, loopTypes;
        ASSERT_EQ(Util::getPartitionInfo(dev, loopLabels, loopTypes), 3);
        EXPECT_EQ(loopLabels.keys(), QStringList({lp1, dev + "p2", lp5}));
        EXPECT_EQ(loopLabels[lp5], "rootfs");
        struct stat st;
        if (stat(lp5.toStdString().c_str(), &st) == 0) {
            EXPECT_EQ(loopLabels[lp5].toStdString(), blkidValue(lp5.toStdString(), "LABEL"));
            EXPECT_EQ(loopTypes[lp1].toStdString(), blkidValue(lp1.toStdString(), "TYPE"));
        }
        EXPECT_EQ(Util::getCurrntOSInOnboardFlash(loopLabels, loopTypes), "linux");
    }

    // No partition table, no device: -1 and both maps empty.
    writeBytes(d.file("dev/sdb"), 0, patternBytes(1 << 20, 3));
    EXPECT_EQ(Util::getPartitionInfo("/dev/sdb", labels, types), -1);
    EXPECT_TRUE(labels.isEmpty());
    EXPECT_TRUE(types.isEmpty());
    EXPECT_EQ(Util::getPartitionInfo("/dev/nvme0n1", labels, types), -1);
    EXPECT_EQ(Util::getCurrntOSInOnboardFlash(labels, types), "unknow");
    if (!loopWhy.empty())
        GTEST_SKIP() << "loop device part not checked: " << loopWhy;
}
