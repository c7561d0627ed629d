// An installed image set backed up with its manifest and restored onto a
// blank eMMC, judged by cmp, du and sha256sum.
#include "backupfixture.h"

#include "imageset/osconfig.h"
#include "install/sdupdatethread.h"
#include "storage/mmc.h"
#include "support/qt/installrecorder.h"

using namespace testsupport;

namespace {

constexpr int64_t MiB = 1 << 20;

class BackupRestore : public BackupBoard
{
protected:
    // Installs the set at /mnt/sdcard/<dir> (its map or raw file) onto the eMMC.
    QString install(OSType type, const QString &dir, const QString &file)
    {
        OSConfig c;
        c.osType = type;
        c.imagePath = "/mnt/sdcard/" + dir;
        (type == RawImage ? c.os_raw_img : c.os_partmap_txt) = file;
        c.isValid = true;
        SDUpdateThread job(c, TargetDevice(TargetDeviceEMMC, "mmcblk2"), TargetDevice());
        return testsupport::runInstall(job).errorText();
    }
    bool same(const std::string &a, const std::string &b) { return run("cmp " + shq(a) + " " + shq(b)).status == 0; }
};

TEST_F(BackupRestore, InstalledSetBacksUpWithHolesAndManifestAndRestoresByteForByte)
{
    ASSERT_EQ(m_sim->makeBoard("--emmc-mib 128 --sets linux-mbr4"), "");
    gOnboardFlashSize = 128 * 1024;
    ASSERT_EQ(install(Linux, "linux-mbr4", "partmap.txt"), "");

    m_sim->mkdir("mnt/sdcard/backup");
    const std::string image = file("mnt/sdcard/backup/cv-rk3588-emmc.raw");
    BackupLog log = backUp("/mnt/sdcard/backup/cv-rk3588-emmc.raw");
    ASSERT_EQ(log.errorText(), "");
    ASSERT_GE(log.events.size(), 2);
    EXPECT_EQ(log.events.last().type, 1202);
    const RecordedEvent &done = log.events[log.events.size() - 2];
    EXPECT_TRUE(done.type == 1200 && done.action == 1 && done.percent == 100 && !done.isError);
    EXPECT_GT(log.count(1201), 0);

    EXPECT_TRUE(same(emmc(), image));
    // The empty part of the eMMC is not stored: allocated KiB well below 128 MiB.
    const long allocatedKiB = std::stol(run("du -k " + shq(image)).out);
    EXPECT_LT(allocatedKiB, 96 * 1024);
    CmdResult r = run("cd " + shq(file("mnt/sdcard/backup")) + " && sha256sum -c cv-rk3588-emmc.raw.sha256");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "cv-rk3588-emmc.raw: OK\n");

    // Restore onto a blank eMMC: the back-up offered as a raw image set.
    const std::string original = file("original.img");
    ASSERT_EQ(run("mv " + shq(emmc()) + " " + shq(original)).status, 0);
    makeEmmc(128 * MiB);
    EXPECT_EQ(install(RawImage, "backup", "cv-rk3588-emmc.raw"), "");
    EXPECT_TRUE(same(emmc(), original));

    // One changed byte in the back-up: refused before the device is touched.
    writeBytes(image, 100 * MiB + 7, {0x5a});
    makeEmmc(128 * MiB);
    makeSparseFile(file("blank.img"), 128 * MiB);
    const QString error = install(RawImage, "backup", "cv-rk3588-emmc.raw");
    EXPECT_TRUE(error.startsWith("The backup /mnt/sdcard/backup/cv-rk3588-emmc.raw is corrupted")) << error.toStdString();
    EXPECT_TRUE(same(emmc(), file("blank.img")));
    EXPECT_NE(run("cd " + shq(file("mnt/sdcard/backup")) + " && sha256sum -c --status cv-rk3588-emmc.raw.sha256").status, 0);

    // A manifest with no usable line cannot vouch for the image either.
    writeFile(image + ".sha256", "not a checksum\nnor this\n");
    EXPECT_TRUE(install(RawImage, "backup", "cv-rk3588-emmc.raw").contains("cannot be verified"));
    EXPECT_TRUE(same(emmc(), file("blank.img")));

    // Each job's record on the card, as Python's json reads it.
    r = run("python3 -c 'import json,sys\nfor l in open(sys.argv[1]): r=json.loads(l); print(r[\"operation\"], r[\"result\"])' " +
            shq(file("mnt/sdcard/imgsmith-report.jsonl")));
    EXPECT_EQ(r.out, "install ok\nbackup ok\nrestore ok\nrestore failed\nrestore failed\n") << r.err;
}

} // namespace
