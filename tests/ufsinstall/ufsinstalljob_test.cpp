// Whole installs through the install job onto the simulated RK3576 UFS
// board: the factory-fresh device is provisioned once, the boot unit
// appears, the IDB loader lands there and the system on the data unit.
// Written bytes are checked with cmp, the table with sgdisk and sfdisk.
#include "ufsinstallfixture.h"

#include "board/boardhardwareinfo.h"
#include "board/targetdevice.h"
#include "imageset/osconfig.h"
#include "install/installevents.h"
#include "install/sdupdatefinishthreadevent.h"
#include "install/sdupdatethread.h"
#include "install/sdupdatethreadevent.h"
#include "storage/idbloader_builtin.h"
#include "storage/mmc.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QStringList>

#include <unistd.h>

using namespace testsupport;

namespace {

const int64_t kIdb = 64 * 512;
const int64_t kCopy = 512 * 1024;

// What the main controller would see of one job.
class JobEvents : public QObject
{
public:
    QStringList errors;
    int finishes = 0;
    QString finishedBootDevice;

protected:
    bool event(QEvent *e) override
    {
        if (e->type() == SDUpdateThreadEvent::SDUPDATE_EVENT_TYPE) {
            const auto *ev = static_cast<SDUpdateThreadEvent *>(e);
            if (ev->isError())
                errors << ev->errorMessage();
            return true;
        }
        if (e->type() == SDUpdateFinishThreadEvent::SDUPDATE_FINISH_EVENT_TYPE) {
            finishes++;
            finishedBootDevice = static_cast<SDUpdateFinishThreadEvent *>(e)->bootDevice().devName;
            return true;
        }
        return QObject::event(e);
    }
};

std::string cmpAt(const std::string &file, int64_t fileOffset, const std::string &device, int64_t offset,
                  int64_t len)
{
    const CmdResult r = run("cmp -n " + std::to_string(len) + " -i " + std::to_string(fileOffset) + ":"
                            + std::to_string(offset) + " " + shq(file) + " " + shq(device));
    return r.status == 0 ? std::string() : r.out + r.err;
}

std::string cmpWhole(const std::string &file, const std::string &device, int64_t offset)
{
    return cmpAt(file, 0, device, offset, static_cast<int64_t>(readFile(file).size()));
}

bool allZero(const std::string &path)
{
    const std::string bytes = readFile(path);
    return bytes.find_first_not_of('\0') == std::string::npos;
}

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

    JobEvents *install(const OSConfig &config)
    {
        const TargetDevice ufs(TargetDeviceUFS, QStringLiteral("sda"));
        SDUpdateThread job(config, ufs, ufs);
        m_events = std::make_unique<JobEvents>();
        job.setEventReceiver(m_events.get());
        QEventLoop loop;
        QObject::connect(&job, &QThread::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        job.start();
        loop.exec();
        job.wait();
        m_out = testing::internal::GetCapturedStdout();
        m_err = testing::internal::GetCapturedStderr();
        QCoreApplication::sendPostedEvents(m_events.get());
        setInstallEventReceiver(nullptr);
        EXPECT_EQ(mmc_fd, -1);
        EXPECT_EQ(m_events->errors.size() + m_events->finishes, 1) << "exactly one terminal event";
        return m_events.get();
    }

    // A Rockchip GPT set: loader, boot image and an ext4 root file system.
    OSConfig rockchipSet()
    {
        const std::string dir = imageSet("debian-ufs");
        m_loader = putLoader(dir + "/idbloader.img", 150 * 1024 + 5, 11);
        putLoader(dir + "/boot.img", 200 * 1024, 12);
        const std::string src = root("rootfs-src");
        EXPECT_EQ(run("mkdir -p " + shq(src)).status, 0);
        writeFile(src + "/hello.txt", "hello from the data unit\n");
        const CmdResult r = run("mkfs.ext4 -q -F -L rootfs -d " + shq(src) + " " + shq(dir + "/rootfs.img") + " 4M");
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

    std::unique_ptr<JobEvents> m_events;
    std::vector<uint8_t> m_loader;
    std::string m_out, m_err;
};

TEST_F(UfsInstallJobTest, RockchipSetOnFactoryFreshUfs)
{
    const OSConfig set = rockchipSet();
    JobEvents *ev = install(set);
    ASSERT_TRUE(ev->errors.isEmpty()) << ev->errors.join("; ").toStdString() << m_err;
    EXPECT_EQ(ev->finishedBootDevice, "sda");

    // Provisioned once; the rescan brought the boot unit.
    EXPECT_EQ(configWrites(), 1);
    EXPECT_EQ(readFile(root("sys/class/scsi_host/host0/scan")), "0 - -\n");
    EXPECT_NE(m_out.find("UFS initialized: 4 LUs, boot LU-1\n"), std::string::npos);
    EXPECT_NE(logText().find("not found /dev/sdb, will call ufs_init\n"), std::string::npos);

    // The loader, both copies, on the boot unit.
    const std::string loader = setFile("idbloader.img");
    EXPECT_EQ(cmpWhole(loader, bootUnit(), kIdb), "");
    EXPECT_EQ(cmpWhole(loader, bootUnit(), kIdb + kCopy), "");

    // The system on the data unit: images at their sectors, a sound GPT.
    EXPECT_EQ(cmpWhole(setFile("boot.img"), dataUnit(), 0x4000 * 512), "");
    EXPECT_EQ(cmpWhole(setFile("rootfs.img"), dataUnit(), 0x8000 * 512), "");
    const CmdResult verify = run("sgdisk -v " + shq(dataUnit()));
    EXPECT_NE(verify.out.find("No problems found"), std::string::npos) << verify.out;
    const CmdResult table = run("sfdisk --json " + shq(dataUnit()));
    EXPECT_NE(table.out.find("\"start\": 32768"), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("\"name\": \"rootfs\""), std::string::npos) << table.out;

    // The next install finds the boot unit and leaves the device's
    // configuration alone; the new loader replaces the old one.
    m_model.requests.clear();
    putLoader(loader, 100 * 1024, 21);
    ev = install(set);
    ASSERT_TRUE(ev->errors.isEmpty()) << ev->errors.join("; ").toStdString();
    EXPECT_TRUE(m_model.requests.empty());
    EXPECT_EQ(cmpWhole(loader, bootUnit(), kIdb + kCopy), "");
}

TEST_F(UfsInstallJobTest, UfsThatCannotBeBroughtUpStopsBeforeAnyWrite)
{
    const OSConfig set = rockchipSet();
    m_model.attrs[UFS_ATTR_CONF_DESC_LOCK] = 1;
    JobEvents *ev = install(set);
    EXPECT_EQ(ev->errors, QStringList{"Fail to init UFS drive."});
    EXPECT_TRUE(m_model.writes().empty());
    EXPECT_TRUE(allZero(dataUnit()));

    // Provisioned, but the boot unit never appears.
    m_model.attrs[UFS_ATTR_CONF_DESC_LOCK] = 0;
    m_bootUnitOnRescan = false;
    ev = install(set);
    EXPECT_EQ(ev->errors, QStringList{"Fail to init UFS drive."});
    EXPECT_TRUE(allZero(dataUnit()));
}

// Provisioning cannot be undone: a set that cannot be installed must be
// refused before the device's configuration is written.
TEST_F(UfsInstallJobTest, SetWithoutItsMapStopsBeforeTheUfsIsConfigured)
{
    const OSConfig set = rockchipSet();
    ASSERT_EQ(::unlink(setFile("parameter.txt").c_str()), 0);
    JobEvents *ev = install(set);
    ASSERT_EQ(ev->errors.size(), 1);
    EXPECT_TRUE(ev->errors[0].startsWith("File not found: ") && ev->errors[0].endsWith("/parameter.txt"))
        << ev->errors[0].toStdString();
    EXPECT_TRUE(m_model.writes().empty());
    EXPECT_EQ(configWrites(), 0);
    EXPECT_TRUE(allZero(dataUnit()));
}

TEST_F(UfsInstallJobTest, SetWithoutLoaderTakesTheBuiltInOne)
{
    const std::string dir = imageSet("backup");
    putLoader(dir + "/alphav5ufs-ufs.raw", 1024 * 1024, 31);
    const OSConfig set(QString::fromStdString(dir), QStringLiteral("alphav5ufs-ufs.raw"));
    ASSERT_EQ(set.os_idbloader_img, "idbloader.img");

    uint32_t len = 0;
    const unsigned char *builtin = idbloader_builtin_find("RK3576", &len);
    JobEvents *ev = install(set);
    if (!builtin) {
        // This build carries no RK3576 loader: nothing is touched.
        EXPECT_EQ(ev->errors, QStringList{"Dose not support this model."});
        EXPECT_TRUE(m_model.requests.empty());
        EXPECT_TRUE(allZero(dataUnit()));
        return;
    }
    ASSERT_TRUE(ev->errors.isEmpty()) << ev->errors.join("; ").toStdString();
    EXPECT_EQ(readBytes(bootUnit(), kIdb, len), std::vector<uint8_t>(builtin, builtin + len));
    EXPECT_EQ(readBytes(bootUnit(), kIdb + kCopy, len), std::vector<uint8_t>(builtin, builtin + len));
    EXPECT_EQ(cmpWhole(dir + "/alphav5ufs-ufs.raw", dataUnit(), 0), "");
}
