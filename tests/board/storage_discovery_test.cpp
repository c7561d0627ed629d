// Storage and device discovery in simulated sysfs trees of real symbolic links.
#include <gtest/gtest.h>

#include <QStringList>

#include <algorithm>

#include "board/boardhardwareinfo.h"
#include "simboard.h"

using testsupport::readFile;

TEST(StorageDiscovery, DrivesAreToldApartByTheirSysfsPath)
{
    // A root whose own path contains ".usb": only the path below it counts.
    SimBoard sim("board.usb.sata");
    BoardHardwareInfo *b = SimBoard::row("Alpha-X9");
    EXPECT_EQ(b->getUdiskDevName(), "");
    EXPECT_EQ(b->getUdiskPartitionName(), "/dev/1");
    EXPECT_TRUE(b->getAllUdiskDevNames().isEmpty());

    // Out of alphabetical order on purpose; sdb's dwc3 glue node lacks ".usb".
    const std::pair<std::string, std::string> drives[] = {
        {"sdd", "../../devices/platform/2a2d0000.ufs/host3/target3:0:0/3:0:0:0/block/sdd"},
        {"sdc", "../../devices/platform/fc400000.sata/ata1/host2/target2:0:0/2:0:0:0/block/sdc"},
        {"sdb", "../../devices/platform/usbdrd3_0/fc000000.dwc3/xhci-hcd.0.auto/usb5/5-1/5-1:1.0/host1/target1:0:0/"
                "1:0:0:0/block/sdb"},
        {"sda", "../../devices/platform/fc880000.usb/usb3/3-1/3-1:1.0/host0/target0:0:0/0:0:0:0/block/sda"},
        {"nvme0n1", "../../devices/platform/a40000000.pcie/pci0002:20/0002:20:00.0/0002:21:00.0/nvme/nvme0/nvme0n1"}};
    for (const auto &[name, target] : drives) {
        sim.mkdir("sys/class/block/" + target);
        sim.link("sys/class/block/" + name, target);
    }
    // sdz reached through two links, as a udev-made alias would be.
    sim.mkdir("sys/devices/platform/fd000000.usb/usb1/1-1/host9/block/sdz");
    sim.link("sys/aliases/sdz", "../devices/platform/fd000000.usb/usb1/1-1/host9/block/sdz");
    sim.link("sys/class/block/sdz", "../../aliases/sdz");
    // A loop of links must end.
    sim.link("sys/class/block/sdy", "sdx");
    sim.link("sys/class/block/sdx", "sdy");

    EXPECT_EQ(b->getUdiskDevName(), "sda");
    EXPECT_EQ(b->getUdiskPartitionName(), "/dev/sda1");
    EXPECT_EQ(b->getAllUdiskDevNames(), QStringList({"sda", "sdb", "sdz"}));
    EXPECT_EQ(b->getAllM2SataDevNames(), QStringList({"sdc"}));
    EXPECT_EQ(b->getAllNVMEDevNames(), QStringList({"nvme0n1"}));
    // Each drive is of one kind only; sdb has "usb" in its path but no ".usb".
    const std::pair<const char *, const char *> kinds[] = {
        {"sda", "usb"}, {"sdb", ""}, {"sdz", "usb"}, {"sdc", "sata"}, {"sdd", "ufs"}, {"nvme0n1", "pcie"}, {"", ""}};
    for (const auto &[drive, kind] : kinds)
        EXPECT_EQ(std::string(b->isUSBDrive(drive) ? "usb" : "") + (b->isSataDrive(drive) ? "sata" : "") +
                      (b->isUFSDrive(drive) ? "ufs" : "") + (b->isPCIEDrive(drive) ? "pcie" : ""), kind) << drive;
    EXPECT_EQ(BoardHardwareInfo::sysfsDevicePath("sdz"),
              "/sys/devices/platform/fd000000.usb/usb1/1-1/host9/block/sdz");

    // With sda unplugged the first ".usb" drive is sdz; sdb never qualifies.
    std::remove(sim.file("sys/class/block/sda").c_str());
    EXPECT_EQ(b->getUdiskDevName(), "sdz");
}

TEST(StorageDiscovery, SizesAndOnboardStorageByCpuKernelAndUfs)
{
    SimBoard sim;
    BoardHardwareInfo *b = SimBoard::row("Alpha-R2");
    sim.put("sys/block/mmcblk2/size", "2048\n");
    sim.put("sys/block/mmcblk2/mmcblk2p1/size", "  61071360 \nrubbish\n");
    EXPECT_EQ(b->getDiskSize("mmcblk2"), 1024);
    EXPECT_EQ(b->getPartitionSize("mmcblk2", "mmcblk2p1"), 30535680);
    // Not a count, negative, beyond 64 bits: no size.
    for (const char *bad : {"12ab\n", "-8\n", "18446744073709551615\n"}) {
        sim.put("sys/block/sda/size", bad);
        EXPECT_EQ(b->getDiskSize("sda"), 0) << bad;
    }
    // Beyond what 512 × count can hold in 64 bits, still a valid count.
    sim.put("sys/block/sde/size", "36028797018963968\n");
    EXPECT_EQ(b->getDiskSize("sde"), 18014398509481984LL);
    EXPECT_EQ(b->getDiskSize("missing"), 0);

    BoardHardwareInfo *rk = SimBoard::row("Alpha-R4"), *rk35 = SimBoard::row("Alpha-X9");
    BoardHardwareInfo *h3 = SimBoard::row("Quill-H1 Plus"), *ufs = SimBoard::row("Alpha-V5 UFS");
    struct Case { const char *release; const char *rkName; };
    const Case cases[] = {{"4.4.179-rk-custom", "mmcblk1"}, {"4.18.20", "mmcblk1"}, {"4.19.0", "mmcblk2"},
                          {"6.1.0-rpi7", "mmcblk2"}};
    for (const Case &c : cases) {
        sim.setKernel(c.release);
        EXPECT_EQ(rk->getOnboardFlashDevName(), c.rkName) << c.release;
        EXPECT_EQ(rk35->getOnboardFlashDevFullName(), QString("/dev/") + c.rkName) << c.release;
        EXPECT_EQ(h3->getOnboardFlashDevName(), "mmcblk1") << c.release;
        EXPECT_EQ(ufs->getOnboardFlashDevName(), "sda") << c.release;
    }
    // storageInterface 1 or 2 means UFS even without the flag.
    BoardHardwareInfo *copy = BoardHardwareInfo::newOne(rk);
    copy->storageInterface = 2;
    EXPECT_EQ(copy->getOnboardFlashDevFullName(), "/dev/sda");
    delete copy;

    // The eMMC exists when its boot area does, named by the eMMC rule even on UFS boards.
    sim.setKernel("5.10.160");
    EXPECT_FALSE(rk->isExistEMMC());
    sim.put("dev/mmcblk2boot0", "");
    EXPECT_TRUE(rk->isExistEMMC());
    EXPECT_TRUE(ufs->isExistEMMC());
    EXPECT_FALSE(h3->isExistEMMC());
    sim.setKernel("4.4.179");
    EXPECT_FALSE(rk->isExistEMMC());

    sim.setKernel("5.10.160");
    sim.put("sys/block/mmcblk2/size", "30535680\n");
    EXPECT_EQ(rk->getOnboardFlashSize(), 15267840);

    EXPECT_FALSE(ufs->isExistUFS());
    const std::string dev = "sys/devices/platform/2a2d0000.ufs";
    sim.mkdir(dev);
    EXPECT_TRUE(ufs->isExistUFS());
    EXPECT_TRUE(SimBoard::row("Alpha-V5")->isExistUFS());
    EXPECT_FALSE(SimBoard::row("Alpha-V5 Lite")->isExistUFS());
    EXPECT_FALSE(SimBoard::row("Alpha-X9")->isExistUFS());

    sim.link("sys/bus/platform/devices/2a2d0000.ufs", "../../../devices/platform/2a2d0000.ufs");
    const std::string cap = dev + "/geometry_descriptor/raw_device_capacity";
    EXPECT_EQ(ufs->getOnboardFlashSize(), 0);
    // Capacity in 512-byte units, hex with or without its prefix; KiB out.
    const struct { const char *text; long long kib; } caps[] = {
        {"0x0\n", 0}, {"0x000000000EE00000\n", 0xEE00000LL / 2}, {"0X1000", 0x800}, {"1000\n", 0x800},
        {"0xnothex\n", 0}};
    for (const auto &c : caps) {
        sim.put(cap, c.text);
        EXPECT_EQ(ufs->getOnboardFlashSize(), c.kib) << c.text;
    }

    // No row of the table sets storageInterface, so the id stays empty.
    sim.put(dev + "/string_descriptors/serial_number", "  5A3B 77  \n");
    EXPECT_EQ(ufs->getUFSID(), "");
    copy = BoardHardwareInfo::newOne(ufs);
    copy->storageInterface = 1;
    EXPECT_EQ(copy->getUFSID(), "5A3B 77");
    copy->boardKey = kRK3576NoUFSBoardKey;
    EXPECT_EQ(copy->getUFSID(), "");
    delete copy;
}

TEST(StorageDiscovery, CardAndEmmcNamesIdsAndModels)
{
    SimBoard sim;
    BoardHardwareInfo *r4 = SimBoard::row("Alpha-R4");
    BoardHardwareInfo *t6 = SimBoard::row("Alpha-X9");
    sim.setKernel("4.19.193");
    EXPECT_EQ(r4->getSDCardDevName(), "mmcblk1");
    EXPECT_EQ(r4->getSDCardFatPartitionFullName(), "/dev/mmcblk1p1");
    EXPECT_EQ(t6->getSDCardDevName(), "mmcblk0");
    sim.setKernel("4.4.179");
    EXPECT_EQ(r4->getSDCardFatPartitionFullName(), "/dev/mmcblk0p1");
    EXPECT_EQ(SimBoard::row("Tern-210")->getSDCardFatPartitionFullName(), "/dev/sdcard");
    sim.put("sys/class/block/mmcblk0/device/cid", "035344534331364780 8a0e1b0b0143\n");
    EXPECT_EQ(r4->getSDCardID(), "035344534331364780 8a0e1b0b0143");

    sim.setKernel("5.10.160");
    sim.put("sys/class/block/mmcblk2/device/cid", " 150100384754463442 \n");
    sim.put("sys/devices/platform/fe330000.sdhci/mmc_host/mmc1/mmc1:0001/cid", "rk3399cid\n");
    sim.put("sys/class/mmc_host/mmc1/mmc1:0001/cid", "h3new\n");
    sim.put("sys/devices/platform/sunxi-mmc.2/mmc_host/mmc2/mmc2:0001/cid", "h3old\n");
    EXPECT_EQ(SimBoard::row("Alpha-R2")->getEMMCID(), "150100384754463442");
    EXPECT_EQ(SimBoard::row("Alpha-R4")->getEMMCID(), "rk3399cid");
    EXPECT_EQ(SimBoard::row("Quill-H1 Plus")->getEMMCID(), "h3new");
    EXPECT_EQ(SimBoard::row("Alpha-C1")->getEMMCID(), "");          // no onboard eMMC
    sim.setKernel("3.4.39");
    EXPECT_EQ(SimBoard::row("Quill-H1 Plus")->getEMMCID(), "h3old");

    sim.setKernel("5.10.160");
    BoardHardwareInfo *b = SimBoard::row("Alpha-R2");
    const std::string nameFile = "sys/class/block/mmcblk2/device/name";
    struct Case { const char *cidName; const char *model; };
    const Case cases[] = {
        {"8WPD3R", "KLM8G1WEPD-B031"},   // shared by two parts: the lower part number
        {"CJT4R\n", "KLMCG4JETD-B041"},
        {"  XYZ99 \n", "Unknow(XYZ99)"},
        {nullptr, "Unknow"},
    };
    for (const Case &c : cases) {
        BoardHardwareInfo::resetEMMCModelCacheForTest();
        std::remove(sim.file(nameFile).c_str());
        if (c.cidName)
            sim.put(nameFile, c.cidName);
        DebugCapture cap;
        EXPECT_EQ(b->getEMMCModel(), c.model) << (c.cidName ? c.cidName : "<none>");
        if (c.cidName && std::string(c.cidName) == "8WPD3R")
            EXPECT_TRUE(cap.lines().contains("emmckey: 385750443352")) << cap.lines().join('|').toStdString();
    }
    // Computed once: a later change of the file is not seen.
    BoardHardwareInfo::resetEMMCModelCacheForTest();
    sim.put(nameFile, "AJNB4R");
    EXPECT_EQ(b->getEMMCModel(), "KLMAG1JENB-B041");
    sim.put(nameFile, "BJNB4R");
    EXPECT_EQ(b->getEMMCModel(), "KLMAG1JENB-B041");
}

TEST(StorageDiscovery, WifiAddressProbedUntilFound)
{
    SimBoard sim;
    BoardHardwareInfo *b = SimBoard::row("Alpha-R4");
    // A stand-in ethtool first in PATH: records its arguments, prints ethtool.out.
    const std::string calls = sim.file("ethtool.calls");
    testsupport::writeExecutable(sim.mkdir("fakebin") + "/ethtool",
                                 "#!/bin/sh\necho \"$*\" >> '" + calls + "'\ncat '" + sim.file("ethtool.out") + "'\n");
    sim.prependPath(sim.file("fakebin"));
    const auto callCount = [&] {
        const std::string s = readFile(calls);
        return std::count(s.begin(), s.end(), '\n');
    };

    sim.put("ethtool.out", "Cannot get permanent address\n");
    EXPECT_FALSE(b->isWiFiChipExist());
    EXPECT_EQ(b->getWiFiMacAddress(), "");
    EXPECT_EQ(b->getWiFiMacAddress(), "");
    EXPECT_EQ(readFile(calls), "-P wlan0\n-P wlan0\n");

    // The interface address stands in when ethtool knows none.
    sim.put("sys/class/net/wlan0/address", "12:34:56:78:9a:bc\n");
    sim.put("ethtool.out", "");
    EXPECT_TRUE(b->isWiFiChipExist());
    EXPECT_EQ(b->getWiFiMacAddress(), "12:34:56:78:9a:bc");
    b->wifiMacCache.clear();

    // Found once, asked no more.
    sim.put("ethtool.out", "Permanent address: 02:00:00:aa:bb:cc \n");
    const auto before = callCount();
    EXPECT_EQ(b->getWiFiMacAddress(), "02:00:00:aa:bb:cc");
    EXPECT_EQ(b->getWiFiMacAddress(), "02:00:00:aa:bb:cc");
    EXPECT_EQ(callCount(), before + 1);
    b->wifiMacCache.clear();
}
