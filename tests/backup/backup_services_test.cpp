// Board services: MAC resets (cmp), DHCP files, TF card figures, and the
// format scripts with stand-in tools (as root on a loop device, via blkid).
#include "backupfixture.h"

#include "backup/backupscripts.h"
#include "frontend/boardservices.h"
#include "frontend/rockchipvendorstorage.h"
#include "util/util.h"

#include <tuple>

using namespace testsupport;

namespace {

constexpr int64_t MiB = 1 << 20;

class BackupServices : public BackupBoard
{
protected:
    bool sameExceptSector(const std::string &before, int64_t offset)
    {
        const std::string n = std::to_string(offset);
        return run("cmp -n " + n + " " + shq(before) + " " + shq(emmc())).status == 0 &&
            run("cmp -i " + std::to_string(offset + 512) + " " + shq(before) + " " + shq(emmc())).status == 0 &&
            run("cmp -n 512 -i " + n + ":0 " + shq(emmc()) + " /dev/zero").status == 0;
    }
    // One partition from 1 MiB to the end (sfdisk), ext4 labelled UDISK (blkid).
    void expectUdiskLayout(const std::string &disk, const std::string &probe)
    {
        const std::string table = sfdiskJson(disk);
        EXPECT_NE(table.find("\"start\":2048,\"size\":129024,\"type\":\"83\""), std::string::npos) << table;
        const CmdResult r = run("blkid -p -o export " + probe);
        EXPECT_NE(r.out.find("TYPE=ext4"), std::string::npos) << r.out << r.err;
        EXPECT_NE(r.out.find("LABEL=UDISK"), std::string::npos) << r.out;
    }
};

TEST_F(BackupServices, MacResetsDhcpFilesAndTheTfCardFiguresOfTheOneKeyBackUp)
{
    struct Case
    {
        int64_t offset;
        std::string content;
        bool (*reset)();
        bool expectReset;
        int64_t size = 8 * MiB;
        const char *cpu = "RK3588";
    } cases[] = {
        {0x380000, "DVKR\x01\x02vendor", RockchipVendorStorage::resetRockchipUbootMacAddress, true},
        {0x380000, "RKVD\x01\x02vendor", RockchipVendorStorage::resetRockchipUbootMacAddress, false},
        {0x3F8000, std::string("bootdelay=1\0ethaddr=aa:bb:cc:dd:ee:ff\0", 38), RockchipVendorStorage::resetRK3399MacAddress,
         true},
        {0x3F8000, std::string("bootdelay=1\0eth1addr=aa:bb\0", 27), RockchipVendorStorage::resetRK3399MacAddress, false},
        // Too short to hold the sector; not a Rockchip board.
        {0x380000, "DVKR", RockchipVendorStorage::resetRockchipUbootMacAddress, false, 0x380000 + 100},
        {0x380000, "DVKR", RockchipVendorStorage::resetRockchipUbootMacAddress, false, 8 * MiB, "H3"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.offset);
        m_board->cpuName = c.cpu;
        makeEmmc(c.size);
        std::vector<uint8_t> all = patternBytes(size_t(c.size), 9);
        std::copy(c.content.begin(), c.content.end(), all.begin() + c.offset);
        writeBytes(emmc(), 0, all);
        run("cp " + shq(emmc()) + " " + shq(file("before.img")));
        EXPECT_EQ(c.reset(), c.expectReset);
        if (c.expectReset)
            EXPECT_TRUE(sameExceptSector(file("before.img"), c.offset));
        else
            EXPECT_EQ(run("cmp " + shq(file("before.img")) + " " + shq(emmc())).status, 0);
    }

    // DHCP for eth0 in the interfaces files.
    m_sim->mkdir("etc/network");
    EXPECT_TRUE(BoardServices::dhcp());
    EXPECT_NE(readFile(file("etc/network/interfaces")).find("source-directory /etc/network/interfaces.d\n"),
              std::string::npos);
    EXPECT_EQ(readFile(file("etc/network/interfaces.d/eth0")), "auto eth0\nallow-hotplug eth0\niface eth0 inet dhcp\n\n");
    run("rm -rf " + shq(file("etc")));
    EXPECT_FALSE(BoardServices::dhcp());

    // The TF card's figures decide the one-key back-up.
    makeEmmc(64 * MiB);
    const qint64 cardKiB = gOnboardFlashSize + 2500000;
    m_sim->put("sys/block/mmcblk0/size", std::to_string(cardKiB * 2) + "\n");
    dfSays("/dev/mmcblk0p1 1 1 " + std::to_string(gOnboardFlashSize - 1) + " 1% /mnt/sdcard\n");
    BoardServices s;
    s.reCalcTFCardSize();
    EXPECT_EQ(std::tuple(s.tfCardSize(), s.tfCardAvailableSize(), s.isTFCardTooSmallFor1KeyBackup(),
                         s.isTFCardShortOfSpaceFor1KeyBackup()),
              std::tuple(cardKiB, gOnboardFlashSize - 1, false, true));
    EXPECT_EQ(s.shortOfSpaceConsoleText(), "Your TF card does not have enough free disk space (" +
                                              Util::size_human((gOnboardFlashSize - 1) * 1024) + "), at least " +
                                              Util::size_human(64 * MiB) + " of free disk space is required. ");

    writeFile(file("sys/block/mmcblk0/size"), std::to_string(cardKiB * 2 - 2) + "\n");
    writeFile(file("df.out"), "no df here\n");
    s.reCalcTFCardSize();
    // Unknown free space does not stop it.
    EXPECT_EQ(std::tuple(s.isTFCardTooSmallFor1KeyBackup(), s.tfCardAvailableSize(), s.isTFCardShortOfSpaceFor1KeyBackup()),
              std::tuple(true, qint64(0), false));
}

TEST_F(BackupServices, FormattingTheUsbDriveAndTheCardRunTheirScripts)
{
    makeUsbDrive(64, true);
    ASSERT_TRUE(BackupScripts::writeScript(BackupScripts::USBFormatScriptFile,
                                           BackupScripts::usbFormatScript("sda", "/dev/sda1", true)));
    CmdResult r = run("/bin/bash " + shq(file("tmp/format_usb_drive")));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(toolLog(), "umount /dev/sda1\nfdisk /dev/sda\nmkfs.ext4 -L UDISK /dev/sda1\n");
    expectUdiskLayout(file("dev/sda"), "-O 1048576 " + shq(file("dev/sda")));

    // The card: its tools are recorded with the card's names.
    writeFile(file("tools.log"), "");
    ASSERT_TRUE(BackupScripts::writeScript(BackupScripts::TFFormatScriptFile,
                                           BackupScripts::tfFormatScript("mmcblk0", "/dev/mmcblk0p1", "/mnt/sdcard")));
    r = run("/bin/bash " + shq(file("tmp/format_tf_drive")));
    EXPECT_EQ(toolLog(), "umount /mnt/sdcard\nparted /dev/mmcblk0 unit % resizepart 1 100 unit MB print\n"
                         "mkfs.exfat -n SDCARD /dev/mmcblk0p1\nmount /dev/mmcblk0p1 /mnt/sdcard\n");

    // As root, a real drive on a loop device.
    if (const std::string why = loopUnavailableReason(); !why.empty())
        GTEST_SKIP() << why;
    writeFile(file("tools.log"), "");
    makeSparseFile(file("drive.img"), 64 * MiB);
    LoopDevice drive(file("drive.img"));
    ASSERT_TRUE(drive.ok()) << drive.error();
    // sda1 as its own loop device, whether or not loop partitions are scanned.
    CmdResult part = run("losetup -f --show -o 1048576 " + shq(file("drive.img")));
    ASSERT_EQ(part.status, 0) << part.err;
    const std::string partDev = part.out.substr(0, part.out.find('\n'));
    run("ln -sfn " + shq(drive.dev()) + " " + shq(file("dev/sda")) + " && ln -sfn " + shq(partDev) + " " +
        shq(file("dev/sda1")));
    ASSERT_TRUE(BackupScripts::writeScript(BackupScripts::USBFormatScriptFile,
                                           BackupScripts::usbFormatScript("sda", "/dev/sda1", false)));
    run("/bin/bash " + shq(file("tmp/format_usb_drive")));
    EXPECT_EQ(toolLog(), "fdisk /dev/sda\nmkfs.ext4 -L UDISK /dev/sda1\n");
    expectUdiskLayout(drive.dev(), shq(partDev));
    run("losetup -d " + shq(partDev));
}

} // namespace
