// System queries answered from a simulated board; partition labels, types
// and file system probes on images made by the real tools, checked by blkid.
#include "support/qt/simboard.h"
#include "util/fsprobe.h"
#include "util/usbdevice.h"
#include "util/util.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QMap>

#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

using namespace testsupport;

namespace {

const char kMounts[] =
    "sysfs /sys sysfs rw,nosuid,nodev,noexec,relatime 0 0\n"
    "/dev/mmcblk0p1 /mnt/sdcard vfat rw,relatime,fmask=0022,dmask=0022,codepage=437,iocharset=utf8,shortname=mixed,errors=remount-ro 0 0\n"
    "/dev/sda1 /mnt/udisk exfat ro,relatime 0 2\n"
    "/dev/mmcblk2p8 /mnt/with\\040space ext4 rw 1 2\n";

// Boot areas after the partitions, as kernels list them; a neighbour mmcblk20.
const char kPartitions[] =
    "major minor  #blocks  name\n"
    "\n"
    " 179        0   30535680 mmcblk2\n"
    " 179        1       4096 mmcblk2p1\n"
    " 179        2       4096 mmcblk2p2\n"
    " 179        8   28000000 mmcblk2p8\n"
    " 179       32       4096 mmcblk2boot0\n"
    " 179       64       4096 mmcblk2boot1\n"
    " 179       96     512 mmcblk20\n"
    "   8        0   15000000 sda\n"
    "   8        1   15000000 sda1\n";

struct MountedBoard
{
    SimRoot dir;
    MountedBoard()
    {
        dir.put("proc/mounts", kMounts);
        dir.put("proc/partitions", kPartitions);
        const std::string usb = "devices/platform/fc880000.usb/usb2/2-1";
        dir.put("sys/" + usb + "/product", "USB3.0 Card Reader\n");
        dir.put("sys/" + usb + "/idProduct", "0749\n");
        dir.put("sys/" + usb + "/idVendor", "05e3\n");
        // The root hub above has a product too; the nearest one must win.
        dir.put("sys/devices/platform/fc880000.usb/usb2/product", "xHCI Host Controller\n");
        const std::string sda = usb + "/2-1:1.0/host0/target0:0:0/0:0:0:0/block/sda";
        const std::string mmc = "devices/platform/fe2e0000.mmc/mmc_host/mmc2/mmc2:0001/block/mmcblk2";
        dir.mkdir("sys/" + sda);
        dir.mkdir("sys/" + mmc);
        dir.link("sys/class/block/sda", "../../" + sda);
        dir.link("sys/class/block/mmcblk2", "../../" + mmc);
        dir.put("dev/sda", "");
        dir.put("dev/mmcblk2", "");
    }
};

// blkid's view of one field at `offset` of a file.
std::string blkidValue(const std::string &path, const std::string &tag, long long offset = 0)
{
    const std::string out = run("blkid -p -o value -s " + tag + " -O " + std::to_string(offset) + " " + shq(path)).out;
    return out.substr(0, out.find('\n'));
}

} // namespace

TEST(UtilMounts, MountAndPartitionTablesOfTheSimulatedBoard)
{
    MountedBoard b;
    // Directories, devices, a path resolved below the root, an octal escape.
    const QStringList mounted = {"/mnt/sdcard", "/dev/sda1", qstr(b.dir.file("mnt/udisk")), "/mnt/with space"};
    for (const QString &path : mounted + QStringList({"/mnt", "/mnt/sdcard/", "/dev/sda"}))
        EXPECT_EQ(Util::isMountPoint(path), mounted.contains(path) ? 1 : 0) << path.toStdString();

    char type[16], opts[64];
    int freq = -1, passno = -1;
    ASSERT_EQ(Util::getMountPointStatus("/mnt/udisk", type, sizeof type, opts, sizeof opts, &freq, &passno), 1);
    EXPECT_EQ(std::string(type) + " " + opts + " " + std::to_string(freq) + " " + std::to_string(passno),
              "exfat ro,relatime 0 2");

    // Options too long for the buffer are cut, terminated, and stay inside it.
    char small[12 + 4];
    std::memset(small, 'Z', sizeof small);
    char tinyType[3];
    ASSERT_EQ(Util::getMountPointStatus("/mnt/sdcard", tinyType, sizeof tinyType, small, 12, nullptr, nullptr), 1);
    EXPECT_STREQ(tinyType, "vf");
    EXPECT_STREQ(small, "rw,relatime");
    EXPECT_EQ(small[12], 'Z');

    EXPECT_EQ(Util::getMountPointStatus("/mnt/none", type, sizeof type, opts, sizeof opts, &freq, &passno), 0);
    QFile::remove(qstr(b.dir.file("proc/mounts")));
    EXPECT_EQ(Util::isMountPoint("/mnt/sdcard"), -1);
    EXPECT_EQ(Util::getMountPointStatus("/mnt/sdcard", type, sizeof type, opts, sizeof opts, &freq, &passno), -1);

    // /proc/partitions: the last partition skips boot areas, foreign disks and gaps.
    QStringList last;
    for (const char *disk : {"mmcblk2", "sda", "nvme0n1", ""})
        last << Util::getLastPartitionName(disk);
    EXPECT_EQ(last, QStringList({"mmcblk2p8", "sda1", "", ""}));
    const QStringList listed = {"mmcblk2boot0", "sda"};
    for (const QString &name : listed + QStringList({"sdb", "mmcblk", ""}))
        EXPECT_EQ(Util::isDeviceInPartitions(name), listed.contains(name)) << name.toStdString();

    QFile::remove(qstr(b.dir.file("proc/partitions")));
    EXPECT_EQ(Util::getLastPartitionName("mmcblk2"), "");
    EXPECT_FALSE(Util::isDeviceInPartitions("sda"));

    // The last partition number probes the device nodes.
    EXPECT_EQ(Util::getDiskLastPartitionNumber("mmcblk2p"), 1);
    for (int n = 1; n <= 5; ++n)
        writeFile(b.dir.file("dev/mmcblk2p" + std::to_string(n)), "");
    writeFile(b.dir.file("dev/mmcblk2p7"), "");   // a gap ends the search
    EXPECT_EQ(Util::getDiskLastPartitionNumber("mmcblk2p"), 5);
}

TEST(UtilBoard, LedsBoardIdMacAddressUsbProductAndMemory)
{
    MountedBoard b;
    const std::string leds = b.dir.file("sys/class/leds");
    b.dir.put("sys/class/leds/status_led/trigger", "none");
    b.dir.put("sys/class/leds/status_led/delay_on", "500");
    b.dir.put("sys/class/leds/led2/trigger", "none");   // no delay files: timer attributes missing
    b.dir.put("sys/class/leds/lan_led/trigger", "none");

    Util::setStatusLEDQuickFlash();
    EXPECT_EQ(readFile(leds + "/status_led/trigger"), "timer");
    EXPECT_EQ(readFile(leds + "/status_led/delay_on"), "80");
    EXPECT_EQ(readFile(leds + "/led2/trigger"), "timer");
    Util::setStatusLEDAlwaysOn();
    EXPECT_EQ(readFile(leds + "/status_led/trigger"), "default-on");
    EXPECT_EQ(readFile(leds + "/lan_led/trigger"), "none");   // network LEDs untouched
    Util::setNetworkLEDAlwayOn();
    EXPECT_EQ(readFile(leds + "/lan_led/trigger"), "default-on");

    // Nothing was created: no delay files, no LEDs this board lacks.
    EXPECT_FALSE(QFile::exists(qstr(leds + "/status_led/delay_off")));
    EXPECT_FALSE(QFile::exists(qstr(leds + "/led2/delay_on")));
    EXPECT_EQ(QDir(qstr(leds)).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name),
              QStringList({"lan_led", "led2", "status_led"}));

    EXPECT_EQ(Util::readAllwinnerBoardID(), "");
    b.dir.put("sys/class/sunxi_info/sys_info", "sunxi_chipid      : 2c21020e:786b6a62:5c000000\n"
                                               "  SUNXI_Board_ID  :  Board_Ab1 \n");
    EXPECT_EQ(Util::readAllwinnerBoardID(), "board_ab1");

    char mac[32];
    b.dir.put("sys/class/net/eth0/address", "8a:2b:3c:4d:5e:6f\n");
    b.dir.put("sys/class/net/bad/address", "8a:2b\n");
    ASSERT_EQ(Util::getMacAddress("eth0", mac, sizeof mac), 0);
    EXPECT_STREQ(mac, "8a:2b:3c:4d:5e:6f");
    for (const char *bad : {"bad", "wlan9", "../net/eth0"})
        EXPECT_EQ(Util::getMacAddress(bad, mac, sizeof mac), -1) << bad;
    EXPECT_EQ(Util::getMacAddress("eth0", mac, 0), -1);
    // A buffer too small for the address is filled only up to its end.
    char shortBuf[8 + 4];   // room for 7 characters and the terminator
    std::memset(shortBuf, 'Z', sizeof shortBuf);
    EXPECT_EQ(Util::getMacAddress("eth0", shortBuf, 8), -1);
    EXPECT_STREQ(shortBuf, "8a:2b:3");
    EXPECT_EQ(shortBuf[8], 'Z');

    // The loopback interface never counts as an IP address.
    EXPECT_EQ(Util::getIPAddress("lo", mac, sizeof mac), -1);

    // The product strings of the nearest USB device above a disk.
    char product[64], pid[8], vid[8];
    ASSERT_EQ(get_usbdevice_product("/dev/sda", product, sizeof product, pid, vid, sizeof pid), 0);
    EXPECT_EQ(std::string(product) + "|" + pid + "|" + vid, "USB3.0 Card Reader|0749|05e3");

    // Small buffers are filled to their end and stay terminated.
    char p4[4], i2[2], v2[2];
    ASSERT_EQ(get_usbdevice_product("/dev/sda", p4, sizeof p4, i2, v2, sizeof i2), 0);
    EXPECT_EQ(std::string(p4) + "|" + i2 + "|" + v2, "USB|0|0");

    // Not on USB, no node, no sysfs entry, no room: no product.
    EXPECT_EQ(get_usbdevice_product("/dev/mmcblk2", product, sizeof product, pid, vid, sizeof pid), -2);
    EXPECT_STREQ(product, "");
    writeFile(b.dir.file("dev/sdy"), "");   // a node without a sysfs entry
    for (const auto &[dev, room] : {std::pair{"/dev/sdz", 64}, {"/dev/sdy", 64}, {"/dev/sda", 0}})
        EXPECT_EQ(get_usbdevice_product(dev, product, room, pid, vid, sizeof pid), -1) << dev;

    if (!haveTool("awk"))
        GTEST_SKIP() << "awk not installed";
    b.dir.put("proc/meminfo", "MemTotal:        4028196 kB\nMemFree:          523775 kB\n");
    EXPECT_EQ(Util::GetMemInfoMB(), 3933);   // 4028196 / 1024 = 3933.78, toward zero
    EXPECT_EQ(Util::GetFreeMemMB(), 511);
}

TEST(UsbDevice, RealLoopDeviceIsNotUsb)
{
    const std::string why = loopUnavailableReason();
    if (!why.empty())
        GTEST_SKIP() << why;
    TempDir d;
    makeSparseFile(d.file("disk.img"), 1 << 20);
    LoopDevice loop(d.file("disk.img"));
    if (!loop.ok())
        GTEST_SKIP() << "cannot attach a loop device: " << loop.error();
    // Walks the real /sys from the device numbers up to "/" without a product.
    char product[64], pid[8], vid[8];
    EXPECT_EQ(get_usbdevice_product(loop.dev().c_str(), product, sizeof product, pid, vid, sizeof pid), -2);
}

// An MBR disk by sfdisk: p1 FAT "BOOT", extended p2 holding p5 ext4
// "rootfs"; the file systems made by mkfs beside it and copied in.
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
    for (const auto &[file, ext4, isBtrfs] : {std::tuple{p5, 1, 0}, {btrfs, 0, 1}, {p1, 0, 0}}) {
        EXPECT_EQ(is_ext4_filesystem(file.c_str()), ext4) << file;
        EXPECT_EQ(is_btrfs_image(file.c_str()), isBtrfs) << file;
    }
    // Files ending inside the superblock, and missing files: no file system.
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
    // The label on a non-ext4 file system names no OS; "system" is Android's.
    QMap<QString, QString> btrfsTypes = types, android = labels;
    btrfsTypes["/dev/mmcblk2p5"] = "btrfs";
    EXPECT_EQ(Util::getCurrntOSInOnboardFlash(labels, btrfsTypes), "unknow");
    android["/dev/mmcblk2p1"] = "SYSTEM";
    EXPECT_EQ(Util::getCurrntOSInOnboardFlash(android, btrfsTypes), "android");

    // The resolved path names the same device and gives the same keys.
    QMap<QString, QString> labels2, types2;
    EXPECT_EQ(Util::getPartitionInfo(qstr(img), labels2, types2), 3);
    EXPECT_EQ(labels2, labels);

    // The kernel's partition nodes of a scanned loop device say the same.
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
