// Whole installs through the install job onto the simulated RK3576 UFS
// board: the factory-fresh device is provisioned once, the boot unit
// appears, the IDB loader lands there and the system on the data unit.
// Written bytes are checked with cmp, the table with sgdisk and sfdisk.
#include "ufsinstallfixture.h"

#include "board/boardhardwareinfo.h"
#include "board/targetdevice.h"
#include "imageset/osconfig.h"
#include "install/sdupdatethread.h"
#include "storage/write_verify.h"
#include "storage/idbloader_builtin.h"
#include "storage/mmc.h"
#include "support/qt/installrecorder.h"

#include <unistd.h>

using namespace testsupport;

namespace {

const int64_t kIdb = 64 * 512;
const int64_t kCopy = 512 * 1024;

} // namespace

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
        const TargetDevice ufs(TargetDeviceUFS, QStringLiteral("sda"));
        SDUpdateThread job(config, ufs, ufs);
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
        EXPECT_EQ(c.os_idbloader_img, "idbloader.img");
        EXPECT_EQ(c.os_partmap_txt, "parameter.txt");
        EXPECT_EQ(c.rootfsFsTypes, QStringList{"ext4"});
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
    EXPECT_EQ(configWrites(), 1);
    EXPECT_EQ(readFile(root("sys/class/scsi_host/host0/scan")), "0 - -\n");
    EXPECT_NE(m_out.find("UFS initialized: 4 LUs, boot LU-1\n"), std::string::npos);
    EXPECT_NE(logText().find("not found /dev/sdb, will call ufs_init\n"), std::string::npos);
    EXPECT_NE(logText().find("ufs_init return 0\n"), std::string::npos);

    // The loader, both copies, on the boot unit, each padded with zeros.
    const std::string loader = setFile("idbloader.img");
    const int64_t len = static_cast<int64_t>(m_loader.size());
    EXPECT_EQ(readBytes(bootUnit(), 0, kIdb), patternBytes(kIdb, 99));
    for (int64_t copy : {kIdb, kIdb + kCopy}) {
        EXPECT_EQ(cmpAt(loader, 0, bootUnit(), copy), "");
        EXPECT_TRUE(zeroAt(bootUnit(), copy + len, kCopy - len));
    }
    EXPECT_TRUE(zeroAt(bootUnit(), kIdb + 2 * kCopy, kBootUnitBytes - kIdb - 2 * kCopy));
    EXPECT_NE(logText().find("idbloader.img to /dev/sdb\n"), std::string::npos);

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
    write_verify_set_test_hook([&] {
        std::vector<uint8_t> b = readBytes(bootUnit(), kIdb + kCopy + 7, 1);
        b[0] ^= 1;
        writeBytes(bootUnit(), kIdb + kCopy + 7, b);
    });
    EXPECT_EQ(install(set, true), "Verification failed: /mnt/sdcard/debian-ufs/idbloader.img (partition boot LU) "
                                  "differs from what was written at device offset 32768.");
    write_verify_set_test_hook(nullptr);
}

TEST_F(UfsInstallJobTest, UfsThatCannotBeBroughtUpStopsBeforeAnyWrite)
{
    const OSConfig set = rockchipSet();
    m_model.attrs[UFS_ATTR_CONF_DESC_LOCK] = 1;
    EXPECT_EQ(install(set), "Fail to init UFS drive.");
    EXPECT_TRUE(m_model.writes().empty());
    EXPECT_TRUE(zeroAt(dataUnit(), 0, kDataUnitBytes));

    // Provisioned, but the boot unit never appears.
    m_model.attrs[UFS_ATTR_CONF_DESC_LOCK] = 0;
    m_bootUnitOnRescan = false;
    EXPECT_EQ(install(set), "Fail to init UFS drive.");
    EXPECT_TRUE(zeroAt(dataUnit(), 0, kDataUnitBytes));
}

// Provisioning cannot be undone: a set that cannot be installed must be
// refused before the device's configuration is written.
TEST_F(UfsInstallJobTest, SetWithoutItsMapStopsBeforeTheUfsIsConfigured)
{
    const OSConfig set = rockchipSet();
    ASSERT_EQ(::unlink(setFile("parameter.txt").c_str()), 0);
    const QString error = install(set);
    EXPECT_TRUE(error.startsWith("File not found: ") && error.endsWith("/parameter.txt")) << error.toStdString();
    EXPECT_TRUE(m_model.writes().empty());
    EXPECT_EQ(configWrites(), 0);
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
