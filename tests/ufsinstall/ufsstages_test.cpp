// The UFS stages one by one on a simulated RK3576 UFS board: which boards and
// boot devices take part, where the loader comes from, and each refusal. The
// loader's two copies on the boot unit are checked through the whole job.
#include "ufsinstallfixture.h"

#include "board/boardhardwareinfo.h"
#include "board/targetdevice.h"
#include "install/ufsinstallstages.h"
#include "storage/idbloader_builtin.h"
#include "storage/mmc.h"

#include <QDir>
#include <QFileInfo>

using namespace testsupport;

namespace {

const TargetDevice kUfs(TargetDeviceUFS, QStringLiteral("sda"));
const TargetDevice kNone;
const UfsPollPolicy kQuickPoll{3, 1};

const int64_t kIdb = 64 * 512;
const int64_t kCopy = 512 * 1024;

} // namespace

class UfsStagesTest : public UfsBoardTest
{
protected:
    // The set "debian" with a loader of `len` bytes, and its plan.
    void prepare(size_t len, UfsBootPlan *plan)
    {
        putLoader(loader(), len);
        EXPECT_TRUE(ufsPrepareBootLoader(*ufsBoard(), QString::fromStdString(imageSet("debian")), "idbloader.img",
                                         kUfs, plan, &m_error))
            << m_error.toStdString();
    }
    std::string loader() const { return imageSet("debian") + "/idbloader.img"; }

    QString m_error;
};

TEST_F(UfsStagesTest, OnlyRockchipUfsBoardsBootingFromUfsTakePart)
{
    const std::string set = imageSet("debian");
    putLoader(set + "/idbloader.img", 1000);
    const QString setPath = QString::fromStdString(set);

    // An eMMC board of the same SoC and a UFS board are told apart by the
    // record alone.
    BoardHardwareInfo *emmc = boardRow("alphav5");
    ASSERT_TRUE(emmc && ufsBoard());
    EXPECT_FALSE(ufsBoardNeedsBootLoader(*emmc));
    EXPECT_TRUE(ufsBoardNeedsBootLoader(*ufsBoard()));
    BoardHardwareInfo other;
    other.cpuName = QStringLiteral("H6");
    other.onboardIsUFS = true;
    EXPECT_FALSE(ufsBoardNeedsBootLoader(other));
    other.cpuName = QStringLiteral("rk3588");
    other.onboardIsUFS = false;
    other.storageInterface = 2;
    EXPECT_TRUE(ufsBoardNeedsBootLoader(other));

    QString error;
    {
        UfsBootPlan plan;
        EXPECT_TRUE(ufsPrepareBootLoader(*emmc, setPath, "idbloader.img", kUfs, &plan, &error));
        EXPECT_FALSE(plan.isRockchipUfs);
    }
    {
        // Booting from a USB drive leaves the UFS boot unit alone.
        UfsBootPlan plan;
        EXPECT_TRUE(ufsPrepareBootLoader(*ufsBoard(), setPath, "idbloader.img",
                                         TargetDevice(TargetDeviceUSBDisk, "sdc"), &plan, &error));
        EXPECT_FALSE(plan.isRockchipUfs);
        EXPECT_NE(logText().find("not boot from ufs, set is_rockchip_ufs to false.\n"), std::string::npos);
        EXPECT_TRUE(ufsBringUp(plan, &error, kQuickPoll));
        EXPECT_TRUE(ufsWriteBootLoader(plan, kUfs, &error));
        EXPECT_TRUE(m_model.requests.empty());
    }
    for (const TargetDevice &boot : {kUfs, kNone}) {
        UfsBootPlan plan;
        ASSERT_TRUE(ufsPrepareBootLoader(*ufsBoard(), setPath, "idbloader.img", boot, &plan, &error)) << error.toStdString();
        EXPECT_TRUE(plan.isRockchipUfs);
        EXPECT_EQ(plan.bootUnit, "/dev/sdb");
        EXPECT_EQ(plan.loaderPath, setPath + "/idbloader.img");
        EXPECT_TRUE(plan.tmpDir.isEmpty());
    }
    EXPECT_TRUE(error.isEmpty());
}

TEST_F(UfsStagesTest, LoaderIsGeneratedForTheSocWhenTheSetHasNone)
{
    const QString set = QString::fromStdString(imageSet("ubuntu"));
    QString error;
    QString tmpDir;
    uint32_t builtinLen = 0;
    const unsigned char *builtin = idbloader_builtin_find("RK3576", &builtinLen);
    {
        UfsBootPlan plan;
        const bool ok = ufsPrepareBootLoader(*ufsBoard(), set, "idbloader.img", kUfs, &plan, &error);
        tmpDir = plan.tmpDir;
        ASSERT_TRUE(tmpDir.startsWith(QString::fromStdString(root("tmp/img."))));
        if (!builtin) {
            // This build carries no RK3576 loader.
            EXPECT_FALSE(ok);
            EXPECT_EQ(error, "Dose not support this model.");
        } else {
            ASSERT_TRUE(ok) << error.toStdString();
            EXPECT_EQ(plan.loaderPath, tmpDir + "/idbloader.img");
            const std::vector<uint8_t> got = readBytes(plan.loaderPath.toStdString(), 0, builtinLen + 1);
            EXPECT_EQ(got, std::vector<uint8_t>(builtin, builtin + builtinLen));
        }
        EXPECT_TRUE(QFileInfo(tmpDir).isDir());
    }
    // The plan owns the directory and takes it along.
    EXPECT_FALSE(QFileInfo::exists(tmpDir));
    EXPECT_NE(logText().find("cleanup tmpdir: /tmp/img."), std::string::npos);

    // An empty loader name is not the set's directory. A second run of the
    // same job leaves no directory of the first behind.
    UfsBootPlan plan;
    ufsPrepareBootLoader(*ufsBoard(), set, QString(), kUfs, &plan, &error);
    const QString first = plan.tmpDir;
    EXPECT_FALSE(first.isEmpty());
    ufsPrepareBootLoader(*ufsBoard(), set, QString(), kUfs, &plan, &error);
    EXPECT_FALSE(QFileInfo::exists(first));
    EXPECT_TRUE(QFileInfo(plan.tmpDir).isDir());
    ufsRemoveTempDir(&plan);
    EXPECT_TRUE(plan.tmpDir.isEmpty());

    // Without a "/tmp" there is nowhere to generate one.
    ASSERT_EQ(run("rm -rf " + shq(root("tmp"))).status, 0);
    UfsBootPlan noTmp;
    EXPECT_FALSE(ufsPrepareBootLoader(*ufsBoard(), set, "idbloader.img", kUfs, &noTmp, &error));
    EXPECT_EQ(error, "Failed to mkdtemp.");
}

// Provisioning a fresh device and leaving a provisioned one alone are run
// through the whole job in ufsinstalljob_test.cpp.
TEST_F(UfsStagesTest, BringUpRefusals)
{
    UfsBootPlan plan;
    prepare(4096, &plan);
    // The loader vanished from the card in between: refused before the
    // device's configuration is written (it used to be provisioned first).
    ASSERT_EQ(unlink(loader().c_str()), 0);
    EXPECT_FALSE(ufsBringUp(plan, &m_error, kQuickPoll));
    EXPECT_EQ(m_error, "File not found: /mnt/sdcard/debian/idbloader.img, this file is required to boot "
                       "system from UFS.");
    EXPECT_TRUE(m_model.requests.empty());
    // No BSG node to provision through.
    putLoader(loader(), 4096);
    ASSERT_EQ(unlink(root("dev/bsg/ufs-bsg0").c_str()), 0);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(ufsBringUp(plan, &m_error, kQuickPoll));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(m_error, "Fail to init UFS drive.");
    EXPECT_TRUE(m_model.requests.empty());
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(bootUnit())));
}

TEST_F(UfsStagesTest, LoaderWriteFailuresLeaveTheBootUnitAlone)
{
    UfsBootPlan plan;
    prepare(2048, &plan);
    const std::string loader = this->loader();
    QString &error = m_error;

    // No boot unit.
    EXPECT_FALSE(ufsWriteBootLoader(plan, kUfs, &error));
    EXPECT_EQ(error, "Invalid disk size (-1) /dev/sdb");

    makeSparseFile(bootUnit(), kBootUnitBytes);
    // No boot device: nothing to write.
    ASSERT_TRUE(ufsWriteBootLoader(plan, kNone, &m_error));
    EXPECT_TRUE(zeroAt(bootUnit(), 0, kBootUnitBytes));
    // One byte more than an IDB copy holds.
    putLoader(loader, kCopy + 1);
    EXPECT_FALSE(ufsWriteBootLoader(plan, kUfs, &error));
    EXPECT_EQ(error, "File too big: /mnt/sdcard/debian/idbloader.img.");
    // Exactly one copy's worth fits.
    putLoader(loader, kCopy);
    EXPECT_TRUE(ufsWriteBootLoader(plan, kUfs, &error)) << error.toStdString();
    EXPECT_EQ(cmpAt(loader, 0, bootUnit(), kIdb + kCopy, kCopy), "");

    // A boot unit smaller than the IDB area.
    makeSparseFile(bootUnit(), kIdb + 0x280000 - 512);
    EXPECT_FALSE(ufsWriteBootLoader(plan, kUfs, &error));
    EXPECT_EQ(error, "File too big: /mnt/sdcard/debian/idbloader.img.");
    EXPECT_TRUE(zeroAt(bootUnit(), 0, kIdb + 0x280000 - 512));

    makeSparseFile(bootUnit(), kBootUnitBytes);
    writeFile(loader, "");
    EXPECT_FALSE(ufsWriteBootLoader(plan, kUfs, &error));
    EXPECT_EQ(error, "Cannot get file size: /mnt/sdcard/debian/idbloader.img.");

    ASSERT_EQ(unlink(loader.c_str()), 0);
    EXPECT_FALSE(ufsWriteBootLoader(plan, kUfs, &error));
    EXPECT_EQ(error, "Fail to open file: /mnt/sdcard/debian/idbloader.img, errno: No such file or directory.");
    EXPECT_TRUE(zeroAt(bootUnit(), 0, kBootUnitBytes));
    EXPECT_EQ(mmc_fd, -1);
}

TEST_F(UfsStagesTest, LoaderOnARealBlockDeviceWith4KSectors)
{
    const std::string reason = loopUnavailableReason();
    if (!reason.empty())
        GTEST_SKIP() << reason;
    const std::string backing = root("ufs-boot-a.bin");
    makeSparseFile(backing, kBootUnitBytes);
    LoopDevice loop(backing, 4096);
    if (!loop.ok())
        GTEST_SKIP() << "loop device: " << loop.error();
    ASSERT_EQ(symlink(loop.dev().c_str(), bootUnit().c_str()), 0);

    const size_t len = 200 * 1024 + 3;
    UfsBootPlan plan;
    prepare(len, &plan);
    ASSERT_TRUE(ufsBringUp(plan, &m_error, kQuickPoll)) << m_error.toStdString();
    EXPECT_TRUE(m_model.requests.empty());
    ASSERT_TRUE(ufsWriteBootLoader(plan, kUfs, &m_error)) << m_error.toStdString();
    EXPECT_EQ(cmpAt(loader(), 0, loop.dev(), kIdb, len), "");
    EXPECT_EQ(cmpAt(loader(), 0, loop.dev(), kIdb + kCopy, len), "");
}
