// The back-up job's checks, failures and cancellation.
#include "backupfixture.h"

#include <QElapsedTimer>
#include <QFileInfo>

#include <unistd.h>

#include "backup/onboardflashbackupandrestorethread.h"
#include "startup/globals.h"
#include "util/util.h"

using namespace testsupport;

namespace {

constexpr int64_t MiB = 1 << 20;

using BackupEngine = BackupBoard;

TEST_F(BackupEngine, FreeSpaceAndUnusableDevicesDecideBeforeAnythingIsWritten)
{
    makeUsbDrive(64, true);
    const int64_t kib = 8 * 1024;
    const QString need = Util::size_human(kib * 1024);
    struct Case
    {
        int64_t emmcBytes;   // -1: no device
        int media;
        std::string df;
        QString image;
        QString error;   // empty: the copy goes ahead
    } cases[] = {
        {8 * MiB, 1, "/dev/mmcblk0p1 7633920 100 " + std::to_string(kib) + " 1% /mnt/sdcard\n", "/mnt/sdcard/a.raw", ""},
        {8 * MiB, 1, "/dev/mmcblk0p1 7633920 100 " + std::to_string(kib - 1) + " 1% /mnt/sdcard\n", "/mnt/sdcard/a.raw",
         "There is not enough free disk space on your tf card, it requires at least " + need + " of free disk space. "},
        {8 * MiB, 2, "/dev/sda1 65536 100 " + std::to_string(kib - 1) + " 1% /mnt/udisk\n", "/mnt/sdcard/a.raw",
         "There is not enough free disk space on your removable disk, it requires at least " + need +
             " of free disk space. "},
        {8 * MiB, 2, "/dev/sda1 65536 100 " + std::to_string(kib) + " 1% /mnt/udisk\n", "/mnt/sdcard/a.raw", ""},
        // Not a number: df says nothing usable, the copy proceeds.
        {8 * MiB, 1, "/dev/mmcblk0p1 7633920 100 unknown 1% /mnt/sdcard\n", "/mnt/sdcard/a.raw", ""},
        // Another card's partition only: no line for ours.
        {8 * MiB, 1, "/dev/mmcblk1p1 7633920 100 1 1% /mnt/other\n", "/mnt/sdcard/a.raw", ""},
        {-1, 1, "", "/mnt/sdcard/a.raw", "Fail to open device: /dev/mmcblk2"},
        {0, 1, "", "/mnt/sdcard/a.raw", "Invalid disk size (0) /dev/mmcblk2"},
        {511, 1, "", "/mnt/sdcard/a.raw", "Invalid disk size (0) /dev/mmcblk2"},
        {MiB, 1, "", "/mnt/sdcard/missing/a.raw", "Failed to create file: /mnt/sdcard/missing/a.raw, errno: 2."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.df + c.error.toStdString());
        unlink(emmc().c_str());
        unlink(file("mnt/sdcard/a.raw").c_str());
        if (c.emmcBytes >= 0)
            makeEmmc(c.emmcBytes);
        if (c.emmcBytes > 4 * MiB)
            writeBytes(emmc(), 3 * MiB, patternBytes(4096, 5));
        dfSays(c.df);
        BackupLog log = backUp(c.image, c.media);
        EXPECT_EQ(log.errorText(), c.error);
        EXPECT_EQ(log.count(1202), c.error.isEmpty() ? 1 : 0);
        if (c.error.isEmpty())
            EXPECT_EQ(cmpAt(emmc(), 0, file("mnt/sdcard/a.raw"), 0), "");
        else
            EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(file(c.image.mid(1).toStdString()))));
        EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(file("tmp/udiskfreesize"))));
        EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(file("tmp/tfcardfreesize"))));
    }
    EXPECT_NE(toolLog().find("df"), std::string::npos);
}

// Sound, cancelled, failing mid-copy, no device: no partial file or
// manifest, each with its record (Python's json).
TEST_F(BackupEngine, EveryEndLeavesItsRecordAndNoPartialFile)
{
    QElapsedTimer clock;
    clock.start();
    makeEmmc(32 * MiB);
    BUFFER_SIZE = 1 << 20;
    writeBytes(emmc(), 20 * MiB, patternBytes(MiB, 3));
    ASSERT_EQ(backUp("/mnt/sdcard/cv-rk3588-emmc.raw").count(1202), 1);
    const std::string sha = sha256(file("mnt/sdcard/cv-rk3588-emmc.raw"));

    // A manifest of an earlier back-up of the same name must not survive.
    writeFile(file("mnt/sdcard/b.raw.sha256"), std::string(64, 'a') + "  b.raw\n");
    int lastPercent = 0;
    BackupLog log = backUp("/mnt/sdcard/b.raw", 1, [&](OnboardFlashBackupAndRestoreThread &job) {
        job.setProgressObserver([&](int percent) {
            lastPercent = percent;
            if (percent >= 25)
                job.cancel();
        });
    });
    EXPECT_LT(lastPercent, 100);
    EXPECT_EQ(log.count(1202), 0);
    EXPECT_EQ(log.errorText(), "");
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(file("mnt/sdcard/b.raw"))));
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(file("mnt/sdcard/b.raw.sha256"))));

    bool truncated = false;
    log = backUp("/mnt/sdcard/c.raw", 1, [&](OnboardFlashBackupAndRestoreThread &job) {
        job.setProgressObserver([&](int percent) {
            // The device shrinks under the job, as a failing card would stop answering.
            if (percent >= 10 && !truncated)
                truncated = truncate(emmc().c_str(), 16 * MiB) == 0;
        });
    });
    ASSERT_TRUE(truncated);
    EXPECT_EQ(log.errorText(), "Failed to write image file: /mnt/sdcard/c.raw, retcode: -1.");
    EXPECT_EQ(log.count(1202), 0);
    EXPECT_FALSE(log.events.last().type == 1200 && log.events.last().percent == 100 && !log.events.last().isError);
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(file("mnt/sdcard/c.raw.sha256"))));

    unlink(emmc().c_str());
    backUp("/mnt/sdcard/d.raw");

    // Durations within the test's own time; the speed is the bytes over it.
    const char *fields = "import json,sys\n"
                         "for l in open(sys.argv[1]):\n"
                         "  r=json.loads(l); s=r['source']; ms=round(r['durationSeconds']*1000)\n"
                         "  n=sum(i['bytes'] for i in r['images'])\n"
                         "  print(r['operation'], r['board']['name'], r['imageSet']['path'], r['imageSet']['kind'],\n"
                         "    s['device'], s['kind'], s['bytes'],\n"
                         "    [(i['name'], i['bytes'], i['sha256']) for i in r['images']], r['result'],\n"
                         "    repr(r['error']), 'targets' in r, r['time'].endswith('Z'), (ms > 0 or not n)\n"
                         "    and ms <= int(sys.argv[2]) and r['bytesPerSecond'] == (n*1000//ms if ms else 0))\n";
    const CmdResult r = run("python3 -c " + shq(fields) + " " + shq(file("mnt/sdcard/imgsmith-report.jsonl")) + " "
                            + std::to_string(clock.elapsed()));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "backup CV-RK3588 /mnt/sdcard/cv-rk3588-emmc.raw RawImage /dev/mmcblk2 eMMC 33554432 "
              "[('/mnt/sdcard/cv-rk3588-emmc.raw', 33554432, '" + sha + "')] ok '' False True True\n"
              "backup CV-RK3588 /mnt/sdcard/b.raw RawImage /dev/mmcblk2 eMMC 33554432 [] cancelled '' False True True\n"
              "backup CV-RK3588 /mnt/sdcard/c.raw RawImage /dev/mmcblk2 eMMC 33554432 [] failed "
              "'Failed to write image file: /mnt/sdcard/c.raw, retcode: -1.' False True True\n"
              "backup CV-RK3588 /mnt/sdcard/d.raw RawImage /dev/mmcblk2 eMMC 0 [] failed "
              "'Fail to open device: /dev/mmcblk2' False True True\n");
}

} // namespace
