// The back-up job's checks and failures on a simulated board: free space
// as df reports it, devices that cannot be read, a read error in the middle
// of the copy, and cancellation.
#include "backupfixture.h"

#include <QFileInfo>

#include <unistd.h>

#include "backup/onboardflashbackupandrestorethread.h"
#include "startup/globals.h"
#include "util/util.h"

using namespace testsupport;

namespace {

constexpr int64_t MiB = 1 << 20;

class BackupEngine : public BackupBoard
{
protected:
    std::string image() const { return file("mnt/sdcard/cv-rk3588-emmc.raw"); }
};

TEST_F(BackupEngine, FreeSpaceAsDfReportsItDecidesBeforeAnythingIsWritten)
{
    makeEmmc(8 * MiB);
    writeBytes(emmc(), 3 * MiB, patternBytes(4096, 5));
    makeUsbDrive(64, true);
    const qint64 kib = gOnboardFlashSize;
    const QString need = Util::size_human(kib * 1024);
    struct Case
    {
        int media;
        std::string df;
        QString error;   // empty: the copy goes ahead
    } cases[] = {
        {1, "/dev/mmcblk0p1 7633920 100 " + std::to_string(kib) + " 1% /mnt/sdcard\n", ""},
        {1, "/dev/mmcblk0p1 7633920 100 " + std::to_string(kib - 1) + " 1% /mnt/sdcard\n",
         "There is not enough free disk space on your tf card, it requires at least " + need +
             " of free disk space. "},
        {2, "/dev/sda1 65536 100 " + std::to_string(kib - 1) + " 1% /mnt/udisk\n",
         "There is not enough free disk space on your removable disk, it requires at least " + need +
             " of free disk space. "},
        {2, "/dev/sda1 65536 100 " + std::to_string(kib) + " 1% /mnt/udisk\n", ""},
        // Not a number: df says nothing usable, the copy proceeds.
        {1, "/dev/mmcblk0p1 7633920 100 unknown 1% /mnt/sdcard\n", ""},
        // Another card's partition only: no line for ours.
        {1, "/dev/mmcblk1p1 7633920 100 1 1% /mnt/other\n", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.df);
        unlink(image().c_str());
        dfSays(c.df);
        BackupLog log = backUp("/mnt/sdcard/cv-rk3588-emmc.raw", c.media);
        EXPECT_EQ(log.errorText(), c.error);
        EXPECT_EQ(log.count(1202), c.error.isEmpty() ? 1 : 0);
        if (c.error.isEmpty())
            EXPECT_EQ(run("cmp " + shq(emmc()) + " " + shq(image())).status, 0);
        else
            EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(image())));
        EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(file("tmp/udiskfreesize"))));
        EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(file("tmp/tfcardfreesize"))));
    }
    EXPECT_NE(toolLog().find("df"), std::string::npos);
}

TEST_F(BackupEngine, DevicesAndFilesThatCannotBeUsedEndTheRunWithTheirMessage)
{
    struct Case
    {
        int64_t emmcBytes;   // -1: no device
        QString image;
        QString error;
    } cases[] = {
        {-1, "/mnt/sdcard/a.raw", "Fail to open device: /dev/mmcblk2"},
        {0, "/mnt/sdcard/a.raw", "Invalid disk size (0) /dev/mmcblk2"},
        {511, "/mnt/sdcard/a.raw", "Invalid disk size (0) /dev/mmcblk2"},
        {MiB, "/mnt/sdcard/missing/a.raw", "Failed to create file: /mnt/sdcard/missing/a.raw, errno: 2."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.error.toStdString());
        unlink(emmc().c_str());
        if (c.emmcBytes >= 0)
            makeEmmc(c.emmcBytes);
        BackupLog log = backUp(c.image);
        EXPECT_EQ(log.errorText(), c.error);
        EXPECT_EQ(log.count(1202), 0);
        EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(file("mnt/sdcard/a.raw"))));
    }
}

TEST_F(BackupEngine, ReadErrorInTheMiddleOfTheCopyFailsWithItsCode)
{
    makeEmmc(32 * MiB);
    BUFFER_SIZE = 1 << 20;
    writeBytes(emmc(), 20 * MiB, patternBytes(MiB, 3));
    bool truncated = false;
    BackupLog log = backUp("/mnt/sdcard/cv-rk3588-emmc.raw", 1, [&](OnboardFlashBackupAndRestoreThread &job) {
        job.setProgressObserver([&](int percent) {
            // The device shrinks under the job, as a failing card would stop answering.
            if (percent >= 10 && !truncated)
                truncated = truncate(emmc().c_str(), 16 * MiB) == 0;
        });
    });
    ASSERT_TRUE(truncated);
    EXPECT_EQ(log.errorText(), "Failed to write image file: /mnt/sdcard/cv-rk3588-emmc.raw, retcode: -1.");
    EXPECT_EQ(log.count(1202), 0);
    EXPECT_FALSE(log.events.last().type == 1200 && log.events.last().percent == 100 && !log.events.last().isError);
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(image() + ".sha256")));
}

TEST_F(BackupEngine, CancelStopsTheCopyAndDeletesThePartialFile)
{
    makeEmmc(32 * MiB);
    BUFFER_SIZE = 1 << 20;
    writeBytes(emmc(), 30 * MiB, patternBytes(MiB, 4));
    // A manifest of an earlier back-up of the same name must not survive.
    writeFile(image() + ".sha256", std::string(64, 'a') + "  cv-rk3588-emmc.raw\n");
    int lastPercent = 0;
    BackupLog log = backUp("/mnt/sdcard/cv-rk3588-emmc.raw", 1, [&](OnboardFlashBackupAndRestoreThread &job) {
        job.setProgressObserver([&](int percent) {
            lastPercent = percent;
            if (percent >= 25)
                job.cancel();
        });
    });
    EXPECT_LT(lastPercent, 100);
    EXPECT_EQ(log.count(1202), 0);
    EXPECT_EQ(log.errorText(), "");
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(image())));
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(image() + ".sha256")));
}

} // namespace

// Every back-up leaves one line on the card it wrote to, read back with
// Python's json: a sound one, one that could not read the device, one
// cancelled.
TEST_F(BackupEngine, EveryBackUpLeavesItsRecordOnTheCard)
{
    makeEmmc(8 * MiB);
    BUFFER_SIZE = 1 << 20;
    writeBytes(emmc(), 5 * MiB, patternBytes(MiB, 6));
    ASSERT_EQ(backUp("/mnt/sdcard/cv-rk3588-emmc.raw").count(1202), 1);
    const std::string sha = run("sha256sum " + shq(image())).out.substr(0, 64);
    backUp("/mnt/sdcard/b.raw", 1, [](OnboardFlashBackupAndRestoreThread &job) {
        job.setProgressObserver([&job](int percent) {
            if (percent >= 25)
                job.cancel();
        });
    });
    unlink(emmc().c_str());
    backUp("/mnt/sdcard/c.raw");

    const char *fields = "import json,sys\n"
                         "for l in open(sys.argv[1]):\n"
                         "  r=json.loads(l); s=r['source']\n"
                         "  print(r['operation'], r['board']['name'], r['imageSet']['path'], s['device'], s['kind'],\n"
                         "    s['bytes'], [(i['name'], i['bytes'], i['sha256']) for i in r['images']], r['result'],\n"
                         "    repr(r['error']), 'targets' in r, r['time'].endswith('Z'), r['durationSeconds'] >= 0)\n";
    const CmdResult r = run("python3 -c " + shq(fields) + " " + shq(file("mnt/sdcard/imgsmith-report.jsonl")));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "backup CV-RK3588 /mnt/sdcard/cv-rk3588-emmc.raw /dev/mmcblk2 eMMC 8388608 [('/mnt/sdcard/cv-rk3588-emmc.raw', "
              "8388608, '" + sha + "')] ok '' False True True\n"
              "backup CV-RK3588 /mnt/sdcard/b.raw /dev/mmcblk2 eMMC 8388608 [] cancelled '' False True True\n"
              "backup CV-RK3588 /mnt/sdcard/c.raw /dev/mmcblk2 eMMC 0 [] failed 'Fail to open device: /dev/mmcblk2' "
              "False True True\n");
}
