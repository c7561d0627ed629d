// Queries of the running system answered from a simulated board: mount table,
// "/proc/partitions", device nodes, LEDs, MAC address, memory figures, USB
// product strings of a block device (a sysfs tree built like the kernel's,
// class links into /sys/devices).
#include "util/usbdevice.h"
#include "util/util.h"
#include "support/qt/simboard.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <cstring>
#include <sys/stat.h>

using namespace testsupport;

namespace {

const char kMounts[] =
    "sysfs /sys sysfs rw,nosuid,nodev,noexec,relatime 0 0\n"
    "/dev/mmcblk0p1 /mnt/sdcard vfat rw,relatime,fmask=0022,dmask=0022,codepage=437,iocharset=utf8,shortname=mixed,errors=remount-ro 0 0\n"
    "/dev/sda1 /mnt/udisk exfat ro,relatime 0 2\n"
    "/dev/mmcblk2p8 /mnt/with\\040space ext4 rw 1 2\n";

// mmcblk2 with its boot areas listed after its partitions, as kernels list
// them; a neighbouring disk mmcblk20 and a USB drive after that.
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

} // namespace

TEST(UtilMounts, MountAndPartitionTablesOfTheSimulatedBoard)
{
    MountedBoard b;
    EXPECT_EQ(Util::isMountPoint("/mnt/sdcard"), 1);
    EXPECT_EQ(Util::isMountPoint("/dev/sda1"), 1);
    // The caller may pass the path already resolved below the root.
    EXPECT_EQ(Util::isMountPoint(qstr(b.dir.file("mnt/udisk"))), 1);
    EXPECT_EQ(Util::isMountPoint("/mnt/with space"), 1);   // octal escapes decoded
    EXPECT_EQ(Util::isMountPoint("/mnt"), 0);
    EXPECT_EQ(Util::isMountPoint("/mnt/sdcard/"), 0);
    EXPECT_EQ(Util::isMountPoint("/dev/sda"), 0);

    char type[16], opts[64];
    int freq = -1, passno = -1;
    ASSERT_EQ(Util::getMountPointStatus("/mnt/udisk", type, sizeof type, opts, sizeof opts, &freq, &passno), 1);
    EXPECT_STREQ(type, "exfat");
    EXPECT_STREQ(opts, "ro,relatime");
    EXPECT_EQ(freq, 0);
    EXPECT_EQ(passno, 2);

    // Options longer than the buffer are cut and still terminated; the bytes
    // after the buffer stay untouched.
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
    EXPECT_EQ(Util::getLastPartitionName("mmcblk2"), "mmcblk2p8");
    EXPECT_EQ(Util::getLastPartitionName("sda"), "sda1");
    EXPECT_EQ(Util::getLastPartitionName("nvme0n1"), "");
    EXPECT_EQ(Util::getLastPartitionName(""), "");
    EXPECT_TRUE(Util::isDeviceInPartitions("mmcblk2boot0"));
    EXPECT_TRUE(Util::isDeviceInPartitions("sda"));
    EXPECT_FALSE(Util::isDeviceInPartitions("sdb"));
    EXPECT_FALSE(Util::isDeviceInPartitions("mmcblk"));
    EXPECT_FALSE(Util::isDeviceInPartitions(""));

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
    QStringList present = QDir(qstr(leds)).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    present.sort();
    EXPECT_EQ(present, QStringList({"lan_led", "led2", "status_led"}));

    EXPECT_EQ(Util::readAllwinnerBoardID(), "");
    b.dir.put("sys/class/sunxi_info/sys_info", "sunxi_chipid      : 2c21020e:786b6a62:5c000000\n"
                                               "  SUNXI_Board_ID  :  Board_Ab1 \n");
    EXPECT_EQ(Util::readAllwinnerBoardID(), "board_ab1");

    char mac[32];
    b.dir.put("sys/class/net/eth0/address", "8a:2b:3c:4d:5e:6f\n");
    b.dir.put("sys/class/net/bad/address", "8a:2b\n");
    ASSERT_EQ(Util::getMacAddress("eth0", mac, sizeof mac), 0);
    EXPECT_STREQ(mac, "8a:2b:3c:4d:5e:6f");
    EXPECT_EQ(Util::getMacAddress("bad", mac, sizeof mac), -1);
    EXPECT_EQ(Util::getMacAddress("wlan9", mac, sizeof mac), -1);
    EXPECT_EQ(Util::getMacAddress("eth0", mac, 0), -1);
    EXPECT_EQ(Util::getMacAddress("../net/eth0", mac, sizeof mac), -1);
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
    EXPECT_STREQ(product, "USB3.0 Card Reader");
    EXPECT_STREQ(pid, "0749");
    EXPECT_STREQ(vid, "05e3");

    // Small buffers are filled to their end and stay terminated.
    char p4[4], i2[2], v2[2];
    ASSERT_EQ(get_usbdevice_product("/dev/sda", p4, sizeof p4, i2, v2, sizeof i2), 0);
    EXPECT_STREQ(p4, "USB");
    EXPECT_STREQ(i2, "0");

    // Not on USB, no node, no sysfs entry, no room: no product.
    EXPECT_EQ(get_usbdevice_product("/dev/mmcblk2", product, sizeof product, pid, vid, sizeof pid), -2);
    EXPECT_STREQ(product, "");
    EXPECT_EQ(get_usbdevice_product("/dev/sdz", product, sizeof product, pid, vid, sizeof pid), -1);
    writeFile(b.dir.file("dev/sdy"), "");   // a node without a sysfs entry
    EXPECT_EQ(get_usbdevice_product("/dev/sdy", product, sizeof product, pid, vid, sizeof pid), -1);
    EXPECT_EQ(get_usbdevice_product("/dev/sda", product, 0, pid, vid, sizeof pid), -1);

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
