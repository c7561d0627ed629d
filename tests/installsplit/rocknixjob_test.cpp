// A ROCKNIX set through the whole install job on the simulated board: the
// generic disk image by the raw-image flow, the board's U-Boot at byte 32768
// and the boot menu pointed at the board's device tree by the generated
// script. The simulated kernel has no partition nodes, so "dev/mmcblk2p1" is
// an ext4 image of the boot partition, and mount/umount/mountpoint stand-ins
// first in PATH unpack it with debugfs and write it back with mkfs.ext4 -d.
#include "installsplitfixture.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>

#include "install/sdupdatethread.h"

using namespace testsupport;

namespace {

class RocknixJob : public SimBoardTest
{
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        if (HasFatalFailure() || IsSkipped())
            return;
        REQUIRE_TOOLS("sfdisk", "mkfs.ext4", "debugfs", "bash", "cmp");
        const std::string d = setDir("rocknix");
        m_root.putPattern("mnt/sdcard/rocknix/u-boot-board.bin", 3 * 1024 * 1024 / 2, 10);
        m_root.putPattern("mnt/sdcard/rocknix/rk3566-board.dtb", 3000, 11);
        // The generic disk image: an MBR with one partition at 16 MiB.
        const std::string disk = d + "/ROCKNIX-RK3566.img";
        ASSERT_EQ(run("truncate -s 20M " + shq(disk) + " && printf 'label: dos\\nstart=32768, type=c\\n' | sfdisk -q " +
                      shq(disk)).status, 0);
        m_root.putPattern("part1.bin", 1 * MiB, 9);
        ASSERT_EQ(run("dd if=" + shq(root("part1.bin")) + " of=" + shq(disk) +
                      " bs=512 seek=32768 conv=notrunc status=none").status, 0);

        // The new system's boot partition with its boot menu.
        m_root.put("boottree/extlinux/extlinux.conf", "LABEL ROCKNIX\n  LINUX /KERNEL\n  FDT /rk3566-generic.dtb\n"
                                                      "  APPEND boot=LABEL=ROCKNIX quiet fbcon=rotate:1\n");
        ASSERT_EQ(run("mkfs.ext4 -q -F -d " + shq(root("boottree")) + " " + shq(root("dev/mmcblk2p1")) + " 8M").status, 0);

        m_root.mountStandIns(root("bin"));
    }
    OSConfig rocknixSet() const
    {
        OSConfig c(QStringLiteral("/mnt/sdcard/rocknix"), QStringLiteral("ROCKNIX-RK3566.img"));
        c.isRocknix = true;
        c.os_rocknix_uboot_bin = QStringLiteral("u-boot-board.bin");
        c.os_rocknix_dtb = QStringLiteral("rk3566-board.dtb");
        return c;
    }
    std::string bootFile(const std::string &path)
    {
        return run("debugfs -R " + shq("cat " + path) + " " + shq(root("dev/mmcblk2p1")) + " 2>/dev/null").out;
    }
    void expectImageAndUboot()
    {
        const std::string d = setDir("rocknix");
        EXPECT_TRUE(holdsAt(emmc(), d + "/u-boot-board.bin", 32768)) << "U-Boot at byte 32768";
        EXPECT_TRUE(zeroAt(emmc(), 512, 32768 - 512)) << "nothing between the MBR and U-Boot";
        EXPECT_TRUE(holdsAt(emmc(), root("part1.bin"), 32768LL * 512)) << "the image's partition stays";
        const std::string json = run("sfdisk --json " + shq(emmc()) + " | tr -d ' \\n\\t'").out;
        EXPECT_NE(json.find("\"label\":\"dos\""), std::string::npos) << json;
        EXPECT_NE(json.find("\"start\":32768,\"size\":8192,\"type\":\"c\""), std::string::npos) << json;
    }
};

} // namespace

TEST_F(RocknixJob, UbootAtItsOffsetAndBootMenuPointedAtTheBoardTree)
{
    const EventLog rec = install(rocknixSet(), emmcTarget(), TargetDevice());
    ASSERT_EQ(rec.errorText(), "");
    EXPECT_EQ(rec.count(1111), 1);
    expectImageAndUboot();
    const QList<RecordedEvent> steps = rec.ofType(1100);
    EXPECT_TRUE(std::any_of(steps.begin(), steps.end(), [](const RecordedEvent &e) {
        return e.imageName.endsWith("/u-boot-board.bin") && e.fileIndex == 1 && e.fileCount == 1;
    }));
    EXPECT_EQ(bootFile("/extlinux/extlinux.conf"), "LABEL ROCKNIX\n  LINUX /KERNEL\n  FDT /rk3566-board.dtb\n"
                                                   "  APPEND boot=LABEL=ROCKNIX quiet\n");
    writeFile(root("dtb.back"), bootFile("/rk3566-board.dtb"));
    EXPECT_EQ(run("cmp " + shq(root("dtb.back")) + " " + shq(setDir("rocknix") + "/rk3566-board.dtb")).status, 0);
    EXPECT_EQ(run("e2fsck -fn " + shq(root("dev/mmcblk2p1"))).status, 0);
    // Outside debug mode the script and its markers are gone afterwards.
    EXPECT_TRUE(entriesStartingWith(root("tmp"), "rocknix_change_dtb").empty());
}

TEST_F(RocknixJob, FailingMountFailsTheInstall)
{
    writeExecutable(root("bin/mount"), "#!/bin/sh\necho 'mount: wrong fs type' >&2\nexit 32\n");
    const EventLog rec = install(rocknixSet(), emmcTarget(), TargetDevice());
    EXPECT_EQ(rec.errorText(), "Failed to update DTB settings.");
    EXPECT_EQ(rec.count(1111), 0);
    // The image and U-Boot were written before the script ran.
    expectImageAndUboot();
    EXPECT_NE(bootFile("/extlinux/extlinux.conf").find("FDT /rk3566-generic.dtb"), std::string::npos);
}
