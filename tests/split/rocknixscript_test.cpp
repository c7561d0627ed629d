// The ROCKNIX device tree script run with bash against an ext4 boot partition
// (mkfs.ext4 -d), mounted through a loop device or stand-in mount programs;
// read back with debugfs and e2fsck, independent of the mount.
#include "install/rocknixfinish.h"

#include "storage/mmc.h"
#include "support/simroot.h"

#include <gtest/gtest.h>

#include <QString>

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace testsupport;

namespace {

bool exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

const char kDtbName[] = "rk3566-board.dtb";

const char kExtlinuxBefore[] = "LABEL ROCKNIX\n  LINUX /KERNEL\n    FDT /rk3566-generic.dtb\n\tFDT   /dtbs/old/rk3566-x.dtb\n"
                               "  FDTDIR /dtbs\n  APPEND boot=LABEL=ROCKNIX disk=LABEL=STORAGE fbcon=rotate:1 quiet\n";
const char kExtlinuxAfter[] = "LABEL ROCKNIX\n  LINUX /KERNEL\n    FDT /rk3566-board.dtb\n\tFDT   /rk3566-board.dtb\n"
                              "  FDTDIR /dtbs\n  APPEND boot=LABEL=ROCKNIX disk=LABEL=STORAGE quiet\n";

enum class Mount { Loop, StandIn };

// The root and set directory carry every character a shell would act on.
class RocknixScriptRun : public ::testing::TestWithParam<Mount>
{
protected:
    void SetUp() override
    {
        if (!haveTool("mkfs.ext4") || !haveTool("debugfs"))
            GTEST_SKIP() << "e2fsprogs not installed";
        if (GetParam() == Mount::Loop) {
            const std::string why = loopUnavailableReason();
            if (!why.empty())
                GTEST_SKIP() << why;
        }
        BUFFER_SIZE = 1 << 20;
        ASSERT_EQ(mkdir(setDir.c_str(), 0755), 0);
        writeBytes(setDir + "/" + kDtbName, 0, patternBytes(40000, 5));
        writeBytes(setDir + "/board_uboot.bin", 0, patternBytes(70000, 6));
        makeSparseFile(root + "/dev/mmcblk2", 8 << 20);
        if (GetParam() == Mount::StandIn)
            m_sim.mountStandIns(dir.file("bin"));
    }

    // The boot partition: an ext4 image holding the boot menu.
    void makeBootPartition(bool withConfig = true)
    {
        const std::string tree = dir.file("tree");
        ASSERT_EQ(mkdir(tree.c_str(), 0755), 0);
        if (withConfig) {
            mkdir((tree + "/extlinux").c_str(), 0755);
            writeFile(tree + "/extlinux/extlinux.conf", kExtlinuxBefore);
        }
        writeFile(tree + "/KERNEL", "kernel");
        ASSERT_EQ(run("mkfs.ext4 -q -F -d " + shq(tree) + " " + shq(partition()) + " 16M").status, 0);
    }

    std::string partition() const { return root + "/dev/mmcblk2p1"; }
    std::string debugfsCat(const std::string &file)
    {
        return run("debugfs -R " + shq("cat " + file) + " " + shq(partition()) + " 2>/dev/null").out;
    }
    QString finish()
    {
        return rocknixFinish("/dev/mmcblk2", QString::fromStdString(setDir + "/board_uboot.bin"), kDtbName,
                             QString::fromStdString(setDir + "/" + kDtbName), {});
    }
    void expectNoInjection()
    {
        for (const std::string &d : {std::string("."), root, setDir, dir.path()})
            EXPECT_FALSE(exists(d + "/PWNED") || exists(d + "/PWNED2")) << d;
    }
    void expectNotMounted()
    {
        if (GetParam() == Mount::Loop)
            EXPECT_NE(run("mountpoint -q " + shq(root + "/mnt/boot")).status, 0) << "left mounted";
    }

    SimRoot m_sim{"sim root $HOME `id` 'q' \"dq\""};
    TempDir dir;
    const std::string root = m_sim.path();
    const std::string setDir = root + "/mnt/sdcard/it's a $(touch PWNED); `touch PWNED2` \"set\" \\";
};

constexpr uint64_t kDeviceBytes = 8 << 20;

class RocknixUboot : public ::testing::Test
{
protected:
    void SetUp() override
    {
        mmc_reset_state_for_test();
        BUFFER_SIZE = 1 << 20;
        device = dir.file("mmcblk2");
        writeBytes(device, 0, patternBytes(kDeviceBytes, 7));
        ASSERT_EQ(run("cp " + shq(device) + " " + shq(dir.file("before"))).status, 0);
    }
    void TearDown() override { mmc_reset_state_for_test(); }

    std::string makeUboot(size_t size)
    {
        writeFile(dir.file("board_uboot.bin"), patternBytes(size, 99));
        return dir.file("board_uboot.bin");
    }
    QString write(const std::string &uboot)
    {
        return rocknixWriteUboot(QString::fromStdString(device), QString::fromStdString(uboot), {});
    }
    bool deviceUnchanged() { return run("cmp " + shq(dir.file("before")) + " " + shq(device)).status == 0; }

    TempDir dir;
    std::string device;
};

} // namespace

TEST_P(RocknixScriptRun, PointsTheBootMenuAtTheBoardsDeviceTree)
{
    makeBootPartition();
    ASSERT_EQ(finish().toStdString(), "");

    EXPECT_EQ(debugfsCat("/extlinux/extlinux.conf"), kExtlinuxAfter);
    EXPECT_EQ(debugfsCat(std::string("/") + kDtbName), readFile(setDir + "/" + kDtbName));
    EXPECT_EQ(debugfsCat("/KERNEL"), "kernel");
    EXPECT_EQ(run("e2fsck -fn " + shq(partition())).status, 0);
    // The U-Boot went in first, at byte 32768 of the device.
    EXPECT_EQ(run("cmp -i 0:32768 -n 70000 " + shq(setDir + "/board_uboot.bin") + " " + shq(root + "/dev/mmcblk2")).status, 0);

    EXPECT_TRUE(exists(root + "/tmp/rocknix_change_dtb_ok"));
    EXPECT_FALSE(exists(root + "/tmp/rocknix_change_dtb_error"));
    const std::string log = readFile(root + "/tmp/rocknix_change_dtb.log");
    EXPECT_NE(log.find("New DTB: rk3566-board.dtb"), std::string::npos) << log;
    EXPECT_NE(log.find("=== Done ==="), std::string::npos) << log;
    expectNoInjection();
    expectNotMounted();

    for (const QString &f : rocknixScriptFiles())
        EXPECT_TRUE(f.toStdString().rfind(root + "/tmp/rocknix_change_dtb", 0) == 0) << f.toStdString();
}

// A missing boot menu, a failing mount, a script that cannot even leave a
// marker: each fails, nothing left mounted, the boot menu unchanged.
TEST_P(RocknixScriptRun, FailuresAreReported)
{
    const struct { bool withConfig; const char *failingTool, *log1, *logBeforeRoot, *logAfterRoot; bool errorMarker; } cases[] = {
        {false, nullptr, "ERROR: Config file not found:", "Unmounting ", "/mnt/boot on error", true},
        {true, "mount", "mount: wrong fs type", "ERROR: Failed to mount ", "/dev/mmcblk2p1", true},
        // Neither marker can be made: the script stops at "touch" under set -e.
        {true, "touch", nullptr, nullptr, nullptr, false},
    };
    const std::string path = getenv("PATH");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.failingTool ? c.failingTool : "no boot menu");
        run("rm -rf " + shq(dir.file("tree")) + " " + shq(dir.file("failbin")) + " " + shq(root) + "/tmp/rocknix_change_dtb*");
        makeBootPartition(c.withConfig);
        setenv("PATH", path.c_str(), 1);
        if (c.failingTool) {
            mkdir(dir.file("failbin").c_str(), 0755);
            writeExecutable(dir.file("failbin/") + c.failingTool,
                                         "#!/bin/sh\necho 'mount: wrong fs type' >&2\nexit 32\n");
            m_sim.prependPath(dir.file("failbin"));
        }
        EXPECT_EQ(finish().toStdString(), "Failed to update DTB settings.");
        EXPECT_EQ(exists(root + "/tmp/rocknix_change_dtb_error"), c.errorMarker);
        EXPECT_FALSE(exists(root + "/tmp/rocknix_change_dtb_ok"));
        if (c.log1) {
            const std::string log = readFile(root + "/tmp/rocknix_change_dtb.log");
            EXPECT_NE(log.find(c.log1), std::string::npos) << log;
            EXPECT_NE(log.find(c.logBeforeRoot + root + c.logAfterRoot), std::string::npos) << log;
        }
        if (c.withConfig && c.errorMarker)
            EXPECT_EQ(debugfsCat("/extlinux/extlinux.conf"), kExtlinuxBefore);
        expectNotMounted();
        expectNoInjection();
    }
}

INSTANTIATE_TEST_SUITE_P(Mounts, RocknixScriptRun, ::testing::Values(Mount::Loop, Mount::StandIn),
                         [](const ::testing::TestParamInfo<Mount> &i) {
                             return std::string(i.param == Mount::Loop ? "Loop" : "StandIn");
                         });

TEST_F(RocknixUboot, FileMustFitBehindTheLoaderOffset)
{
    const size_t room = kDeviceBytes - 32768;
    const std::string uboot = makeUboot(room + 1);
    EXPECT_EQ(write(uboot), QString("File too big: %1 (target: %2).")
                                .arg(QString::fromStdString(uboot), QString::fromStdString(device)));
    EXPECT_TRUE(deviceUnchanged());
    EXPECT_EQ(mmc_fd, -1);

    makeUboot(room);
    ASSERT_EQ(write(uboot).toStdString(), "");
    EXPECT_EQ(run("cmp -i 0:32768 " + shq(uboot) + " " + shq(device)).status, 0);
}

TEST_F(RocknixUboot, SparseUbootLargerThanTheRoomIsRefusedUnwritten)
{
    if (!haveTool("img2simg"))
        GTEST_SKIP() << "img2simg not installed";
    const std::string raw = dir.file("big.raw"), sparse = dir.file("big.simg");
    makeSparseFile(raw, kDeviceBytes);
    writeBytes(raw, 0, patternBytes(4096, 3));
    ASSERT_EQ(run("img2simg " + shq(raw) + " " + shq(sparse)).status, 0);
    EXPECT_EQ(write(sparse), QString("Failed to write image file %1 to %2.")
                                 .arg(QString::fromStdString(sparse), QString::fromStdString(device)));
    EXPECT_TRUE(deviceUnchanged());
}

TEST_F(RocknixUboot, UnusableFilesAndDevicesAreReported)
{
    const QString missing = QString::fromStdString(dir.file("missing_uboot.bin"));
    EXPECT_EQ(write(missing.toStdString()), "Fail to open file: " + missing + ", errno: No such file or directory.");
    const QString empty = QString::fromStdString(makeUboot(0));
    EXPECT_EQ(write(empty.toStdString()), "Cannot get file size: " + empty + ".");
    EXPECT_TRUE(deviceUnchanged());

    const QString uboot = QString::fromStdString(makeUboot(4096));
    const QString noDevice = QString::fromStdString(dir.file("nvme9n1")), zero = QString::fromStdString(dir.file("zero"));
    EXPECT_EQ(rocknixWriteUboot(noDevice, uboot, {}), "Invalid disk size (-1) " + noDevice);
    writeFile(dir.file("zero"), "");
    EXPECT_EQ(rocknixWriteUboot(zero, uboot, {}), "Invalid disk size (0) " + zero);
    EXPECT_EQ(mmc_fd, -1);
}

TEST(RocknixBootPartition, FollowsTheKernelsNaming)
{
    EXPECT_EQ(rocknixBootPartition("/dev/mmcblk2").toStdString(), "/dev/mmcblk2p1");
    EXPECT_EQ(rocknixBootPartition("/dev/nvme0n1").toStdString(), "/dev/nvme0n1p1");
    EXPECT_EQ(rocknixBootPartition("/dev/sda").toStdString(), "/dev/sda1");
}
