// The board's U-Boot of a ROCKNIX set: the room behind its offset, and each
// refusal, the device compared with its copy from before. Where it lands and
// its progress: the whole job in tests/installsplit.
#include "install/rocknixfinish.h"

#include "storage/mmc.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <QString>

#include <string>
#include <vector>

using testsupport::TempDir;
using testsupport::run;
using testsupport::shq;

namespace {

constexpr uint64_t kDeviceBytes = 8 << 20;

class RocknixUboot : public ::testing::Test
{
protected:
    void SetUp() override
    {
        mmc_reset_state_for_test();
        BUFFER_SIZE = 1 << 20;
        device = dir.file("mmcblk2");
        testsupport::writeBytes(device, 0, testsupport::patternBytes(kDeviceBytes, 7));
        ASSERT_EQ(run("cp " + shq(device) + " " + shq(dir.file("before"))).status, 0);
    }
    void TearDown() override { mmc_reset_state_for_test(); }

    std::string makeUboot(size_t size)
    {
        const std::string path = dir.file("board_uboot.bin");
        testsupport::writeFile(path, std::string());
        if (size)
            testsupport::writeBytes(path, 0, testsupport::patternBytes(size, 99));
        return path;
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
    if (!testsupport::haveTool("img2simg"))
        GTEST_SKIP() << "img2simg not installed";
    const std::string raw = dir.file("big.raw"), sparse = dir.file("big.simg");
    testsupport::makeSparseFile(raw, kDeviceBytes);
    testsupport::writeBytes(raw, 0, testsupport::patternBytes(4096, 3));
    ASSERT_EQ(run("img2simg " + shq(raw) + " " + shq(sparse)).status, 0);
    EXPECT_EQ(write(sparse), QString("Failed to write image file %1 to %2.")
                                 .arg(QString::fromStdString(sparse), QString::fromStdString(device)));
    EXPECT_TRUE(deviceUnchanged());
}

TEST_F(RocknixUboot, UnusableFilesAndDevicesAreReported)
{
    const QString dev = QString::fromStdString(device);
    const QString missing = QString::fromStdString(dir.file("missing_uboot.bin"));
    EXPECT_EQ(rocknixWriteUboot(dev, missing, {}),
              "Fail to open file: " + missing + ", errno: No such file or directory.");

    const QString empty = QString::fromStdString(makeUboot(0));
    EXPECT_EQ(rocknixWriteUboot(dev, empty, {}), "Cannot get file size: " + empty + ".");
    EXPECT_TRUE(deviceUnchanged());

    const QString uboot = QString::fromStdString(makeUboot(4096));
    const QString noDevice = QString::fromStdString(dir.file("nvme9n1"));
    EXPECT_EQ(rocknixWriteUboot(noDevice, uboot, {}), "Invalid disk size (-1) " + noDevice);
    testsupport::writeFile(dir.file("zero"), "");
    const QString zero = QString::fromStdString(dir.file("zero"));
    EXPECT_EQ(rocknixWriteUboot(zero, uboot, {}), "Invalid disk size (0) " + zero);
    EXPECT_EQ(mmc_fd, -1);
}

TEST(RocknixBootPartition, FollowsTheKernelsNaming)
{
    EXPECT_EQ(rocknixBootPartition("/dev/mmcblk2").toStdString(), "/dev/mmcblk2p1");
    EXPECT_EQ(rocknixBootPartition("/dev/nvme0n1").toStdString(), "/dev/nvme0n1p1");
    EXPECT_EQ(rocknixBootPartition("/dev/sda").toStdString(), "/dev/sda1");
}
