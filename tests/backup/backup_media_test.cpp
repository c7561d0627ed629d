// The back-up target selector, proposed file names, scripts after a restore.
#include "backupfixture.h"

#include <QFileInfo>

#include <tuple>

#include "backup/backupfilenames.h"
#include "backup/udiskstatus.h"
#include "frontend/boardservices.h"
#include "frontend/brselectorrules.h"
#include "util/util.h"

using namespace testsupport;

namespace {

constexpr int64_t MiB = 1 << 20;

class BackupMedia : public BackupBoard
{
protected:
    void SetUp() override
    {
        BackupBoard::SetUp();
        makeEmmc(64 * MiB);
    }
    BRSelectorView usbView()
    {
        gUdiskStatus.reCalcUdiskStatus();
        gUdiskStatus.reCalcAvailableSize();
        return BRSelectorRules::view(BRSelectorRules::USBDisk, gOnboardFlashSize, "eMMC Flash",
                                     BackupMedium::fromUDisk(gUdiskStatus), BackupMedium());
    }
};

TEST_F(BackupMedia, UsbDriveStatesShowTheirMessageAndOnlyAGoodDriveEnablesBackUp)
{
    struct Case
    {
        const char *name;
        bool drive;
        const char *type, *opts;   // type null: not mounted
        const char *sysSize;       // null: the drive's own
        QString status;
    } cases[] = {
        {"absent", false, nullptr, nullptr, nullptr, "No removable disk were found!"},
        {"unmounted", true, nullptr, nullptr, nullptr,
         "Can not mount your removable disk, it is recommended that you format the disk to ext4 format."},
        {"read-only", true, "ext4", "ro,relatime", nullptr,
         "USB Disk's file system mounted as read-only, please repair your disk with fsck on a linux/windows pc."},
        {"vfat", true, "vfat", "rw,relatime", nullptr,
         "USB Disk's file system is FAT, it dose not support that big files, please format it to exFAT or NTFS."},
        {"vfat read-only", true, "VFAT", "rw,ro", nullptr,
         "USB Disk's file system is FAT, it dose not support that big files, please format it to exFAT or NTFS."},
        // No size in sysfs: the drive's size cannot be told.
        {"sizeless", true, "exfat", "rw", "\n", "Unable to check removable disk size."},
        {"good", true, "ext4", "rw,relatime", nullptr, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        if (c.drive)
            makeUsbDrive(1024, true);
        if (c.type)
            m_sim->mount("/dev/sda1", "/mnt/udisk", c.type, c.opts);
        if (c.sysSize)
            writeFile(file("sys/block/sda/size"), c.sysSize);
        dfSays("/dev/sda1 1048576 10 " + std::to_string(gOnboardFlashSize) + " 1% /mnt/udisk\n");
        const BRSelectorView v = usbView();
        EXPECT_EQ(std::tuple(v.status, v.statusIsError, v.backupEnabled, v.showUDiskFormat, v.showTFCardFormat),
                  std::tuple(c.status, !c.status.isEmpty(), c.status.isEmpty(), c.drive, false));
        TearDown();
    }
}

TEST_F(BackupMedia, UsbDriveShortOfSpaceIsRefused)
{
    makeUsbDrive(1024, true);
    m_sim->mount("/dev/sda1", "/mnt/udisk", "exfat", "rw");
    dfSays("/dev/sda1 1048576 10 " + std::to_string(gOnboardFlashSize - 1) + " 1% /mnt/udisk\n");
    BRSelectorView v = usbView();
    EXPECT_TRUE(v.backupEnabled);
    EXPECT_TRUE(v.sizeIsError) << "free space below the onboard size shows red";
    EXPECT_EQ(v.sizeText, "eMMC Flash Size: " + Util::size_human(64 * MiB) + ", Removable disk size: " +
                              Util::size_human(1024 * MiB) + " (Total), " +
                              Util::size_human((gOnboardFlashSize - 1) * 1024) + " (Free), exfat");
    const BackupMedium usb = BackupMedium::fromUDisk(gUdiskStatus);
    EXPECT_EQ(BRSelectorRules::backupRefusal(BRSelectorRules::USBDisk, gOnboardFlashSize, usb, ""),
              "There is not enough free disk space on your removable disk, it requires at least " +
                  Util::size_human(64 * MiB) + " of free disk space. ");

    // Free space unknown (df says nothing): the back-up may try.
    dfSays("");
    usbView();
    EXPECT_EQ(BRSelectorRules::backupRefusal(BRSelectorRules::USBDisk, gOnboardFlashSize,
                                             BackupMedium::fromUDisk(gUdiskStatus), ""),
              "");
}

TEST_F(BackupMedia, TfCardStatesMissingOnboardStorageAndProposedNames)
{
    struct Case
    {
        const char *type, *opts;   // null: not mounted
        QString status;
    } cases[] = {
        {nullptr, nullptr, "Can not mount your TF card, try to re-format it or reboot device."},
        {"exfat", "ro", "TF card's file system mounted as read-only, please repair your disk with fsck on a "
                        "linux/windows pc."},
        {"vfat", "rw", "TF card's file system is FAT, it dose not support that big files, please format it to "
                       "exFAT or NTFS."},
        {"exfat", "rw,relatime", ""},
    };
    for (const Case &c : cases) {
        writeFile(file("proc/mounts"), c.type ? std::string("/dev/mmcblk0p1 /mnt/sdcard ") + c.type + " " +
                                                    c.opts + " 0 0\n"
                                              : std::string());
        const BackupMedium tf = BackupMedium::tfCard("/mnt/sdcard", 8 << 20, 16);
        const BRSelectorView v = BRSelectorRules::view(BRSelectorRules::TFCard, gOnboardFlashSize, "eMMC Flash",
                                                       BackupMedium(), tf);
        EXPECT_EQ(std::tuple(v.status, v.backupEnabled, v.showTFCardFormat), std::tuple(c.status, c.status.isEmpty(), true));
        EXPECT_EQ(BRSelectorRules::backupRefusal(BRSelectorRules::TFCard, gOnboardFlashSize, tf, "/dev/mmcblk0p1"),
                  "There is not enough free disk space on your TF card (/dev/mmcblk0p1), it requires at least " +
                      Util::size_human(64 * MiB) + " of free disk space. ");
    }
    const BRSelectorView none = BRSelectorRules::view(BRSelectorRules::TFCard, 0, "UFS Device", BackupMedium(),
                                                      BackupMedium::tfCard("/mnt/sdcard", 1, 1));
    EXPECT_EQ(none.status, "Not found UFS Device.");
    EXPECT_FALSE(none.backupEnabled);

    // Proposed names count up (the first two: backupscreen_test); typed
    // paths choose their medium.
    writeFile(file("mnt/sdcard/cv-rk3588-emmc.raw"), "x");
    writeFile(file("mnt/sdcard/cv-rk3588-emmc-2.raw"), "x");
    EXPECT_EQ(BackupFileNames::genBackupFileName(1), "/mnt/sdcard/cv-rk3588-emmc-3.raw");
    m_board->onboardIsUFS = true;
    EXPECT_EQ(BackupFileNames::genBackupFileName(2), "/mnt/udisk/cv-rk3588-ufs.raw");

    EXPECT_TRUE(BackupFileNames::isWritable("/mnt/udisk/a.raw"));
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(file("mnt/udisk/a.raw"))));
    EXPECT_FALSE(BackupFileNames::isWritable("/mnt/udisk/no-such-dir/a.raw"));
    EXPECT_EQ(BackupFileNames::mediumOfPath("/mnt/udisk/x/a.raw"), 2);
    EXPECT_EQ(BackupFileNames::mediumOfPath("/mnt/sdcard/a.raw"), 1);
    EXPECT_EQ(BackupFileNames::mediumOfPath("/root/a.raw"), 0);
}

TEST_F(BackupMedia, ScriptsBesideABackUpRunAgainstTheRestoredLinuxInOrder)
{
    // A restored Linux system made by sfdisk and mkfs.ext4.
    makeEmmc(48 * MiB);
    ASSERT_EQ(run("printf 'label: dos\\nstart=2048,size=16384\\nstart=18432,size=32768\\nstart=51200\\n' | sfdisk -q " +
                  shq(emmc())).status, 0);
    const struct { const char *label; int64_t start, sectors; } parts[] = {
        {"boot", 2048, 16384}, {"rootfs", 18432, 32768}, {"userdata", 51200, 47104}};
    for (const auto &p : parts)
        ASSERT_EQ(run("mkfs.ext4 -q -F -L " + std::string(p.label) + " -E offset=" + std::to_string(p.start * 512) +
                      " " + shq(emmc()) + " " + std::to_string(p.sectors / 2) + "k").status, 0);
    BoardServices::reNewCurrentOSInfo();
    ASSERT_EQ(gCurrentOSInOnboardFlash, "linux");

    const QString image = "/mnt/sdcard/cv-rk3588-emmc.raw";
    ASSERT_TRUE(BackupFileNames::writeScriptDirectory(image, "#!/bin/sh\necho cleanup >> \"$ORDER\"\n"));
    EXPECT_NE(readFile(file("mnt/sdcard/cv-rk3588-emmc.raw.d/README.txt")).find(image.toStdString()), std::string::npos);
    writeFile(file("mnt/sdcard/cv-rk3588-emmc.raw.d/a-first.sh"), "echo \"first $ROOTDIR\" >> \"$ORDER\"\n");
    writeFile(file("mnt/sdcard/cv-rk3588-emmc.raw.d/not-a-script.txt"), "echo never >> \"$ORDER\"\n");
    m_sim->setEnv("ORDER", file("order"));
    // Recording mount tools; nothing is mounted yet.
    for (const std::string tool : {"mount", "umount", "mountpoint"})
        m_sim->put("bin/" + tool, "#!/bin/bash\n{ printf '%s' " + tool + "; printf ' %q' \"$@\"; echo; } >> "
                                  "\"$IMGSMITH_SIM_TOOLS_LOG\"\nexit " + (tool == "mountpoint" ? "1\n" : "0\n"));
    ASSERT_EQ(run("chmod +x " + shq(file("bin")) + "/*").status, 0);
    m_sim->prependPath(file("bin"));

    QString ranWrapper;
    const int rc = BoardServices::doScriptsInPath(image + ".d", "/tmp/imgsmith-restore-custome-script.sh",
                                                  [&](const QString &wrapper) {
                                                      ranWrapper = wrapper;
                                                      return run("/bin/bash " + shq(wrapper.toStdString())).status;
                                                  });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(ranWrapper.toStdString(), file("tmp/imgsmith-restore-custome-script.sh"));
    EXPECT_FALSE(QFileInfo::exists(ranWrapper)) << "the wrapper is deleted after the run";
    EXPECT_EQ(readFile(file("order")), "first /tmp/emmc-rootfs\ncleanup\n");
    const std::string log = toolLog();
    EXPECT_NE(log.find("mount -t ext4 /dev/mmcblk2p1 /tmp/emmc-boot"), std::string::npos) << log;
    EXPECT_NE(log.find("mount -o ro /dev/mmcblk2p2 /tmp/mnt/root"), std::string::npos) << log;
    EXPECT_NE(log.find("mount /dev/mmcblk2p3 /tmp/mnt/data"), std::string::npos) << log;
    EXPECT_NE(log.find("umount /tmp/emmc-rootfs"), std::string::npos) << log;

    // Not a Linux system: nothing runs.
    gCurrentOSInOnboardFlash = "android";
    EXPECT_EQ(BoardServices::doScriptsInPath(image + ".d", "/tmp/w.sh", [](const QString &) { return 9; }), 0);
}

} // namespace
