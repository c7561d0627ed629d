// USB product strings of a block device, found through a simulated sysfs
// tree built like the kernel's (class links into /sys/devices).
#include "support/testsupport.h"
#include "util/usbdevice.h"
#include "support/qt/simboard.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sys/stat.h>

using namespace testsupport;

namespace {

struct UsbBoard
{
    SimRoot dir;
    UsbBoard()
    {
        const std::string usb = "sys/devices/platform/fc880000.usb/usb2/2-1";
        const std::string blk = usb + "/2-1:1.0/host0/target0:0:0/0:0:0:0/block/sda";
        const std::string mmc = "sys/devices/platform/fe2e0000.mmc/mmc_host/mmc2/mmc2:0001/block/mmcblk2";
        run("mkdir -p " + shq(dir.file(blk)) + " " + shq(dir.file(mmc)) + " "
            + shq(dir.file("sys/class/block")) + " " + shq(dir.file("dev")));
        writeFile(dir.file(usb + "/product"), "USB3.0 Card Reader\n");
        writeFile(dir.file(usb + "/idProduct"), "0749\n");
        writeFile(dir.file(usb + "/idVendor"), "05e3\n");
        // The root hub above has a product too; the nearest one must win.
        writeFile(dir.file("sys/devices/platform/fc880000.usb/usb2/product"), "xHCI Host Controller\n");
        run("ln -s ../../devices/platform/fc880000.usb/usb2/2-1/2-1:1.0/host0/target0:0:0/0:0:0:0/block/sda "
            + shq(dir.file("sys/class/block/sda")));
        run("ln -s ../../devices/platform/fe2e0000.mmc/mmc_host/mmc2/mmc2:0001/block/mmcblk2 "
            + shq(dir.file("sys/class/block/mmcblk2")));
        writeFile(dir.file("dev/sda"), "");
        writeFile(dir.file("dev/mmcblk2"), "");
    }
};

} // namespace

TEST(UsbDevice, NearestUsbDeviceAboveTheDiskOrNone)
{
    UsbBoard b;
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
