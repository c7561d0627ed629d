// The UFS stages one by one on a simulated RK3576 UFS board, then whole
// install jobs (where the loader's two copies on the boot unit are checked).
#include "ufsinstallfixture.h"

#include "board/targetdevice.h"
#include "imageset/osconfig.h"
#include "install/sdupdatethread.h"
#include "install/ufsinstallstages.h"
#include "storage/idbloader_builtin.h"
#include "storage/mmc.h"
#include "storage/write_verify.h"
#include "support/qt/installrecorder.h"

#include <QFileInfo>

#include <algorithm>
#include <unistd.h>

using namespace testsupport;

namespace {

const TargetDevice kUfs(TargetDeviceUFS, QStringLiteral("sda"));
const TargetDevice kNone;
const UfsPollPolicy kQuickPoll{3, 1};

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
    putLoader(imageSet("debian") + "/idbloader.img", 1000);
    const QString setPath = QString::fromStdString(imageSet("debian"));

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

    // The eMMC board, and the UFS board booting from a USB drive, leave the
    // UFS device alone.
    QString error;
    for (const auto &[board, boot] : {std::pair{emmc, kUfs}, std::pair{ufsBoard(), TargetDevice(TargetDeviceUSBDisk, "sdc")}}) {
        UfsBootPlan plan;
        EXPECT_TRUE(ufsPrepareBootLoader(*board, setPath, "idbloader.img", boot, &plan, &error));
        EXPECT_FALSE(plan.isRockchipUfs);
        EXPECT_TRUE(ufsBringUp(plan, &error, kQuickPoll));
        EXPECT_TRUE(ufsWriteBootLoader(plan, kUfs, &error));
    }
    EXPECT_NE(logText().find("not boot from ufs, set is_rockchip_ufs to false.\n"), std::string::npos);
    EXPECT_TRUE(m_model.requests.empty());
    for (const TargetDevice &boot : {kUfs, kNone}) {
        UfsBootPlan plan;
        ASSERT_TRUE(ufsPrepareBootLoader(*ufsBoard(), setPath, "idbloader.img", boot, &plan, &error)) << error.toStdString();
        EXPECT_EQ(std::tie(plan.isRockchipUfs, plan.bootUnit, plan.loaderPath, plan.tmpDir),
                  std::make_tuple(true, QString("/dev/sdb"), setPath + "/idbloader.img", QString()));
    }
    EXPECT_TRUE(error.isEmpty());
}

TEST_F(UfsStagesTest, LoaderIsGeneratedForTheSocWhenTheSetHasNone)
{
    const QString set = QString::fromStdString(imageSet("ubuntu"));
    QString error, tmpDir;
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
            EXPECT_EQ(readBytes(plan.loaderPath.toStdString(), 0, builtinLen + 1),
                      std::vector<uint8_t>(builtin, builtin + builtinLen));
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
// through the whole job below.
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
    const auto refusal = [&] { return ufsWriteBootLoader(plan, kUfs, &m_error) ? QString("written") : m_error; };

    // No boot unit.
    EXPECT_EQ(refusal(), "Invalid disk size (-1) /dev/sdb");

    makeSparseFile(bootUnit(), kBootUnitBytes);
    // No boot device: nothing to write.
    ASSERT_TRUE(ufsWriteBootLoader(plan, kNone, &m_error));
    EXPECT_TRUE(zeroAt(bootUnit(), 0, kBootUnitBytes));
    // One byte more than an IDB copy holds.
    putLoader(loader, kCopy + 1);
    EXPECT_EQ(refusal(), "File too big: /mnt/sdcard/debian/idbloader.img.");
    // Exactly one copy's worth fits.
    putLoader(loader, kCopy);
    EXPECT_TRUE(ufsWriteBootLoader(plan, kUfs, &m_error)) << m_error.toStdString();
    EXPECT_EQ(cmpAt(loader, 0, bootUnit(), kIdb + kCopy, kCopy), "");

    // A boot unit smaller than the IDB area.
    makeSparseFile(bootUnit(), kIdb + 0x280000 - 512);
    EXPECT_EQ(refusal(), "File too big: /mnt/sdcard/debian/idbloader.img.");
    EXPECT_TRUE(zeroAt(bootUnit(), 0, kIdb + 0x280000 - 512));

    makeSparseFile(bootUnit(), kBootUnitBytes);
    writeFile(loader, "");
    EXPECT_EQ(refusal(), "Cannot get file size: /mnt/sdcard/debian/idbloader.img.");

    ASSERT_EQ(unlink(loader.c_str()), 0);
    EXPECT_EQ(refusal(), "Fail to open file: /mnt/sdcard/debian/idbloader.img, errno: No such file or directory.");
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

// The factory-fresh device is provisioned once, the boot unit appears, the
// IDB loader lands there and the system on the data unit (cmp, sgdisk, sfdisk).
class UfsInstallJobTest : public UfsBoardTest
{
protected:
    void SetUp() override
    {
        UfsBoardTest::SetUp();
        BUFFER_SIZE = 256 * 1024;
        gCurrentBoardInfo = ufsBoard();
    }

    // The job's first error ("" when it finished).
    QString install(const OSConfig &config, bool verify = false)
    {
        SDUpdateThread job(config, kUfs, kUfs);
        job.setVerifyAfterWrite(verify);
        testing::internal::CaptureStdout();
        const EventLog log = runInstall(job);
        m_out = testing::internal::GetCapturedStdout();
        if (log.count(1111))
            EXPECT_EQ(log.ofType(1111).first().bootDevName, "sda");
        return log.errorText();
    }

    // A Rockchip GPT set: loader, boot image and an ext4 root file system.
    OSConfig rockchipSet()
    {
        const std::string dir = imageSet("debian-ufs");
        m_loader = putLoader(dir + "/idbloader.img", 150 * 1024 + 5, 11);
        putLoader(dir + "/boot.img", 200 * 1024, 12);
        const CmdResult r = mkfsExt4(dir + "/rootfs.img", 4, "rootfs", {{"hello.txt", "hello from the data unit\n"}});
        EXPECT_EQ(r.status, 0) << r.err;
        writeFile(dir + "/parameter.txt", "FIRMWARE_VER: 1.0\n"
                                          "MACHINE_MODEL: RK3576\n"
                                          "MANUFACTURER: RK3576\n"
                                          "TYPE: GPT\n"
                                          "CMDLINE: mtdparts=rk29xxnand:0x00002000@0x00004000(boot),"
                                          "-@0x00008000(rootfs:grow)\n");
        // The set's reader opens its files at imagePath as given, so it gets
        // the path inside the simulated root.
        OSConfig c(QString::fromStdString(dir), QStringList{"idbloader.img", "boot.img", "rootfs.img", "parameter.txt"});
        EXPECT_TRUE(c.isValid);
        return c;
    }
    std::string setFile(const std::string &name) const { return root("mnt/sdcard/debian-ufs/" + name); }
    std::string dataUnit() const { return root("dev/sda"); }

    std::vector<uint8_t> m_loader;
    std::string m_out;
};

TEST_F(UfsInstallJobTest, RockchipSetOnFactoryFreshUfs)
{
    const OSConfig set = rockchipSet();
    // Bytes before the IDB area of the boot unit belong to no one we know
    // of; they stay.
    m_model.onConfigWritten = [this] {
        makeSparseFile(bootUnit(), kBootUnitBytes);
        writeBytes(bootUnit(), 0, patternBytes(kIdb, 99));
    };
    ASSERT_EQ(install(set), "");
    EXPECT_EQ(mmc_fd, -1);

    // Provisioned once; the rescan brought the boot unit.
    const auto writes = m_model.writes();
    EXPECT_EQ(std::count_if(writes.begin(), writes.end(),
                            [](const auto &r) { return r.opcode == UFS_QUERY_OP_WRITE_DESC && r.idn == UFS_DESC_CONFIG; }),
              1);
    EXPECT_EQ(readFile(root("sys/class/scsi_host/host0/scan")), "0 - -\n");
    EXPECT_NE(m_out.find("UFS initialized: 4 LUs, boot LU-1\n"), std::string::npos);
    for (const char *line : {"not found /dev/sdb, will call ufs_init\n", "ufs_init return 0\n", "idbloader.img to /dev/sdb\n"})
        EXPECT_NE(logText().find(line), std::string::npos) << line;

    // The loader, both copies, on the boot unit, each padded with zeros.
    const std::string loader = setFile("idbloader.img");
    const int64_t len = static_cast<int64_t>(m_loader.size());
    EXPECT_EQ(readBytes(bootUnit(), 0, kIdb), patternBytes(kIdb, 99));
    for (int64_t copy : {kIdb, kIdb + kCopy}) {
        EXPECT_EQ(cmpAt(loader, 0, bootUnit(), copy), "");
        EXPECT_TRUE(zeroAt(bootUnit(), copy + len, kCopy - len));
    }
    EXPECT_TRUE(zeroAt(bootUnit(), kIdb + 2 * kCopy, kBootUnitBytes - kIdb - 2 * kCopy));

    // The system on the data unit: images at their sectors, a sound GPT.
    EXPECT_EQ(cmpAt(setFile("boot.img"), 0, dataUnit(), 0x4000 * 512), "");
    EXPECT_EQ(cmpAt(setFile("rootfs.img"), 0, dataUnit(), 0x8000 * 512), "");
    const CmdResult verify = run("sgdisk -v " + shq(dataUnit()));
    EXPECT_NE(verify.out.find("No problems found"), std::string::npos) << verify.out;
    const CmdResult table = run("sfdisk --json " + shq(dataUnit()));
    EXPECT_NE(table.out.find("\"start\": 32768"), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("\"name\": \"rootfs\""), std::string::npos) << table.out;

    // The next install, verified, finds the boot unit and leaves the
    // device's configuration alone; the new loader replaces the old one, and
    // a byte of it changed behind the writer's back fails the install.
    m_model.requests.clear();
    putLoader(loader, 100 * 1024, 21);
    ASSERT_EQ(install(set, true), "");
    EXPECT_TRUE(m_model.requests.empty());
    EXPECT_EQ(cmpAt(loader, 0, bootUnit(), kIdb), "");
    EXPECT_EQ(cmpAt(loader, 0, bootUnit(), kIdb + kCopy), "");
    write_verify_set_test_hook([&] { flipByte(bootUnit(), kIdb + kCopy + 7); });
    EXPECT_EQ(install(set, true), "Verification failed: /mnt/sdcard/debian-ufs/idbloader.img (partition boot LU) "
                                  "differs from what was written at device offset 32768.");
    write_verify_set_test_hook(nullptr);
}

// Provisioning cannot be undone: a set that cannot be installed must be
// refused before the device's configuration is written.
TEST_F(UfsInstallJobTest, RefusalsStopBeforeAnyWrite)
{
    const OSConfig set = rockchipSet();
    m_model.attrs[UFS_ATTR_CONF_DESC_LOCK] = 1;
    EXPECT_EQ(install(set), "Fail to init UFS drive.");
    EXPECT_TRUE(m_model.writes().empty());
    EXPECT_TRUE(zeroAt(dataUnit(), 0, kDataUnitBytes));

    // No map in the set, on the same (untouched, now unlocked) device.
    m_model.attrs[UFS_ATTR_CONF_DESC_LOCK] = 0;
    ASSERT_EQ(::unlink(setFile("parameter.txt").c_str()), 0);
    const QString error = install(set);
    EXPECT_TRUE(error.startsWith("File not found: ") && error.endsWith("/parameter.txt")) << error.toStdString();
    EXPECT_TRUE(m_model.writes().empty());
    EXPECT_TRUE(zeroAt(dataUnit(), 0, kDataUnitBytes));

    // Provisioned, but the boot unit never appears.
    rockchipSet();
    m_bootUnitOnRescan = false;
    EXPECT_EQ(install(set), "Fail to init UFS drive.");
    EXPECT_TRUE(zeroAt(dataUnit(), 0, kDataUnitBytes));
}

TEST_F(UfsInstallJobTest, SetWithoutLoaderTakesTheBuiltInOne)
{
    const std::string dir = imageSet("backup");
    putLoader(dir + "/alphav5ufs-ufs.raw", 1024 * 1024, 31);
    const OSConfig set(QString::fromStdString(dir), QStringLiteral("alphav5ufs-ufs.raw"));
    ASSERT_EQ(set.os_idbloader_img, "idbloader.img");

    uint32_t len = 0;
    const unsigned char *builtin = idbloader_builtin_find("RK3576", &len);
    const QString error = install(set);
    if (!builtin) {
        // This build carries no RK3576 loader: nothing is touched.
        EXPECT_EQ(error, "Dose not support this model.");
        EXPECT_TRUE(m_model.requests.empty());
        EXPECT_TRUE(zeroAt(dataUnit(), 0, kDataUnitBytes));
        return;
    }
    ASSERT_EQ(error, "");
    EXPECT_EQ(readBytes(bootUnit(), kIdb, len), std::vector<uint8_t>(builtin, builtin + len));
    EXPECT_EQ(readBytes(bootUnit(), kIdb + kCopy, len), std::vector<uint8_t>(builtin, builtin + len));
    EXPECT_EQ(cmpAt(dir + "/alphav5ufs-ufs.raw", 0, dataUnit(), 0), "");
}
