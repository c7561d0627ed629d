// The install job end to end on a simulated board (IMGSMITH_ROOT). Written
// devices are checked with sfdisk and cmp, never with our own readers.
#include <QCoreApplication>
#include <QMap>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <sys/mount.h>
#include <unistd.h>

#include "board/targetdevice.h"
#include "imageset/osconfig.h"
#include "install/installevents.h"
#include "install/sdupdatethread.h"
#include "storage/mmc.h"
#include "storage/write_verify.h"
#include "support/qt/installrecorder.h"
#include "support/qt/simboard.h"

using namespace testsupport;

namespace {

constexpr int64_t MiB = 1024 * 1024;

// A set of the given kind at /mnt/sdcard/set with `file` as its map or raw image.
OSConfig set(OSType type, const QString &file, const QString &dir = "/mnt/sdcard/set")
{
    OSConfig c;
    c.osType = type;
    c.imagePath = dir;
    (type == RawImage ? c.os_raw_img : c.os_partmap_txt) = file;
    c.isValid = true;
    return c;
}
OSConfig mapSet(const QString &map = "partmap.txt") { return set(Linux, map); }
OSConfig rawSet(const QString &file) { return set(RawImage, file); }
TargetDevice emmc(const QString &name = "mmcblk2") { return TargetDevice(TargetDeviceEMMC, name); }

class InstallJob : public ::testing::Test
{
protected:
    void SetUp() override
    {
        BUFFER_SIZE = 256 * 1024;
        m_root.mkdir("mnt/sdcard/set");
    }

    std::string setFile(const std::string &name) const { return m_root.file("mnt/sdcard/set/" + name); }
    std::string device() const { return m_root.file("dev/mmcblk2"); }
    void makeDevice(int64_t bytes) { makeSparseFile(device(), static_cast<uint64_t>(bytes)); }
    static void blob(const std::string &path, size_t bytes, uint32_t seed) { writeFile(path, patternBytes(bytes, seed)); }

    // Old data: an "extended" entry at sector 0xEEEEEEEE, past any device.
    void junkHead(bool signature)
    {
        std::vector<uint8_t> junk(512, 0xEE);
        junk[446 + 4] = 0x05;
        junk[510] = signature ? 0x55 : 0x12;
        junk[511] = signature ? 0xAA : 0x34;
        writeBytes(device(), 0, junk);
    }

    EventLog install(const OSConfig &c, std::function<void(SDUpdateThread &)> setup = nullptr,
                     const TargetDevice &boot = emmc())
    {
        SDUpdateThread job(c, boot, TargetDevice());
        if (setup)
            setup(job);
        return runInstall(job);
    }

    void makeExt4(const std::string &path, int mib, const std::string &label)
    {
        const std::vector<uint8_t> b = patternBytes(static_cast<size_t>(mib) * 64 * 1024, 7);
        ASSERT_EQ(mkfsExt4(path, mib, label, {{"blob.bin", std::string(b.begin(), b.end())}}).status, 0);
    }
    bool deviceRangeEquals(const std::string &file, int64_t offset) { return holdsAt(device(), file, offset); }
    bool deviceRangeIsZero(int64_t offset, int64_t length) { return zeroAt(device(), offset, length); }

    SimBoard m_root;
};

#define REQUIRE_INSTALL_TOOLS() REQUIRE_TOOLS("sfdisk", "mkfs.ext4", "img2simg", "e2fsck", "gzip", "xz", "zstd", "cmp")

} // namespace

TEST_F(InstallJob, PartmapInstallEventStreamAndLayout)
{
    REQUIRE_INSTALL_TOOLS();
    makeDevice(64 * MiB);
    blob(setFile("bootloader.bin"), 300000, 3);
    makeExt4(setFile("boot.img"), 8, "boot");
    makeExt4(m_root.file("rootfs.raw"), 24, "rootfs");
    ASSERT_EQ(run("img2simg " + shq(m_root.file("rootfs.raw")) + " " + shq(setFile("rootfs.img"))).status, 0);
    blob(setFile("userdata.img"), 2 * MiB + 77, 5);
    writeFile(setFile("partmap.txt"), "# test map\n"
                                      "flash=mmc,0:bootloader:2nd:0x8000,0xF8000:bootloader.bin;\n"
                                      "flash=mmc,0:boot:ext4:0x100000,0x1000000:boot.img;\n"
                                      "flash=mmc,0:rootfs:ext4:0x1100000,0x2000000:rootfs.img;\n"
                                      "flash=mmc,0:opt:ext4:0x3100000,0x400000:;\n"
                                      "flash=mmc,0:userdata:ext4:0x3500000,0x0:userdata.img;\n");

    EventLog rec = install(mapSet());
    ASSERT_EQ(rec.errorText(), "");
    ASSERT_EQ(rec.count(1111), 1);

    // Files 1..5 of 5 in order; per file 0 first, 100 last, rising, at most
    // one event per whole percent.
    QList<RecordedEvent> progress = rec.ofType(1100);
    QMap<int, QList<int>> percents;
    int lastIndex = 0;
    for (const RecordedEvent &e : progress) {
        EXPECT_FALSE(e.erasing);
        EXPECT_EQ(e.fileCount, 5);
        EXPECT_GE(e.fileIndex, lastIndex);
        lastIndex = e.fileIndex;
        percents[e.fileIndex].append(e.percent);
    }
    ASSERT_EQ(percents.keys(), QList<int>({1, 2, 3, 4, 5}));
    for (const QList<int> &p : percents) {
        EXPECT_EQ(p.first(), 0);
        EXPECT_EQ(p.last(), 100);
        EXPECT_TRUE(std::adjacent_find(p.begin(), p.end(), std::greater_equal<int>()) == p.end()) << "not rising once per percent";
    }
    // The 8 MiB boot image moves in 32 chunks of 256 KiB: several steps.
    EXPECT_GT(percents[2].size(), 10);
    EXPECT_EQ(progress[1].partitionName, "bootloader");
    EXPECT_EQ(progress.first().imageName, "/mnt/sdcard/set/bootloader.bin");

    // Speed events follow the copy; each file's last one covers the file.
    ASSERT_GT(rec.count(1101), 0);
    QMap<QString, RecordedEvent> lastSpeed;
    for (const RecordedEvent &e : rec.ofType(1101)) {
        EXPECT_LE(e.bytesDone, e.bytesTotal);
        EXPECT_GE(e.elapsedMs, 0.0);
        lastSpeed[e.partitionName] = e;
    }
    EXPECT_EQ(lastSpeed["boot"].bytesDone, 8 * MiB);
    EXPECT_EQ(lastSpeed["userdata"].bytesTotal, 2 * MiB + 77);
    // A second-stage loader without a header gets one in front.
    EXPECT_EQ(readBytes(device(), 0x8000 + 0x1FC, 4), std::vector<uint8_t>({'N', 'S', 'I', 'H'}));
    EXPECT_TRUE(deviceRangeEquals(setFile("bootloader.bin"), 0x8000 + 512));
}

TEST_F(InstallJob, ExcludedFilesAndDisabledOverlaySkipTheirPartitions)
{
    REQUIRE_INSTALL_TOOLS();
    makeDevice(32 * MiB);
    blob(setFile("boot.img"), MiB, 1);
    blob(setFile("userdata.img"), MiB, 2);
    writeFile(setFile("partmap.txt"), "flash=mmc,0:boot:ext4:0x100000,0x400000:boot.img;\n"
                                      "flash=mmc,0:userdata:ext4:0x500000,0x0:userdata.img;\n");
    EventLog rec = install(mapSet(), [](SDUpdateThread &job) { job.setExcludedFiles({"boot.img"}); });
    ASSERT_EQ(rec.errorText(), "");
    EXPECT_TRUE(deviceRangeIsZero(0x100000, MiB)) << "an excluded image is not written";
    EXPECT_TRUE(deviceRangeEquals(setFile("userdata.img"), 0x500000));
    QList<RecordedEvent> progress = rec.ofType(1100);
    EXPECT_TRUE(std::any_of(progress.begin(), progress.end(), [](const RecordedEvent &e) { return e.fileIndex == 1 && e.percent == 100; }))
        << "a skipped partition is reported as done";

    makeDevice(32 * MiB);
    rec = install(mapSet(), [](SDUpdateThread &job) { job.setOverlayfsDisabled(true); });
    ASSERT_EQ(rec.errorText(), "");
    std::string sf = sfdiskJson(device());
    EXPECT_EQ(sf.find("\"start\":10240"), std::string::npos) << sf;
    EXPECT_NE(sf.find("\"start\":2048,\"size\":8192"), std::string::npos) << sf;
    EXPECT_TRUE(deviceRangeIsZero(0x500000, MiB));
}

// Each refused set gets its message and leaves the device as it was.
TEST_F(InstallJob, Refusals)
{
    REQUIRE_INSTALL_TOOLS();
    std::string many;
    for (int i = 0; i < 33; ++i)
        many += "flash=mmc,0:p" + std::to_string(i) + ":raw:0x" + std::to_string(i + 1) + "00000,0x10000:;\n";
    blob(setFile("big.bin"), MiB + 1, 4);
    writeFile(setFile("far.bin"), "x");
    writeFile(setFile("empty.raw"), "");
    writeFile(setFile("parameter.txt"), "MANUFACTURER: RK3399\nCMDLINE: mtdparts=rk29xxnand:"
                                        "0x2000@0x4000(boot),0x2000@0x5000(rootfs)\n");
    // Compressed and larger than the device once expanded: nothing may land past its end.
    for (const char *packer : {"gzip -c -n > huge.raw.gz", "xz -c -T2 --block-size=1MiB > huge.raw.xz", "zstd -q -c > huge.raw.zst"})
        ASSERT_EQ(run("cd " + shq(setFile("")) + " && head -c 12M /dev/zero | " + packer).status, 0);
    const std::string layout = "Invalid partition layout, please check partmap.txt";
    // map: partmap.txt when not empty; message "...": only its start is fixed.
    const struct { OSConfig set; std::string map; int64_t deviceBytes; QString message; bool junkHead = false;
                   QString boot = "mmcblk2"; } cases[] = {
        {mapSet(), "flash=mmc,0:boot:ext4:0xQQ,0x100000:boot.img;\n", 16 * MiB,
         "Invalid partition layout, please check partmap.txt: line 1: start or size is not a hexadecimal number."},
        {mapSet(), "flash=mmc,0:boot:ext4:0x100000,0xZZ:boot.img;\n", 16 * MiB,
         "Invalid partition layout, please check partmap.txt: line 1: start or size is not a hexadecimal number."},
        {mapSet(), many, 16 * MiB, "Too many partitions in partmap.txt: at most 32 are supported."},
        // Past the end of the device, or one sector over it.
        {mapSet(), "flash=mmc,0:far:raw:0x2000000,0x100000:far.bin;\n", 16 * MiB, QString::fromStdString(layout) + "..."},
        {mapSet(), "flash=mmc,0:edge:raw:0x100000,0xF00200:far.bin;\n", 16 * MiB, QString::fromStdString(layout) + "..."},
        {mapSet(), "flash=mmc,0:env:raw:0x100000,0x100000:big.bin;\n", 16 * MiB, "Image file /mnt/sdcard/set/big.bin too big."},
        {mapSet("nothere.txt"), "", 16 * MiB, "File not found: /mnt/sdcard/set/nothere.txt"},
        {mapSet(), "flash=mmc,0:env:raw:0x100000,0x100000:;\n", 16 * MiB, "Fail to open device: /dev/mmcblk9", false, "mmcblk9"},
        {mapSet(), "", 0, "Invalid disk size (0) /dev/mmcblk2"},
        {mapSet("parameter.txt"), "", 16 * MiB,
         "Invalid partition layout, please check parameter.txt: line 2: overlapped part rootfs (0x7000 < 0x8000)."},
        {mapSet(), "flash=mmc,0:boot:ext4:0x100000,0x100000:far.bin;\n", 8 * MiB, "Invalid partition info, ret = ...", true},
        {rawSet("huge.raw.gz"), "", 8 * MiB, "File too big: /mnt/sdcard/set/huge.raw.gz."},
        {rawSet("huge.raw.xz"), "", 8 * MiB, "File too big: /mnt/sdcard/set/huge.raw.xz."},
        {rawSet("huge.raw.zst"), "", 8 * MiB, "File too big: /mnt/sdcard/set/huge.raw.zst."},
        {rawSet("empty.raw"), "", 8 * MiB, "Cannot get file size: /mnt/sdcard/set/empty.raw."},
        {rawSet("missing.raw"), "", 8 * MiB, "File not found: /mnt/sdcard/set/missing.raw"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message.toStdString());
        makeDevice(c.deviceBytes);
        if (c.junkHead)
            junkHead(true);
        if (!c.map.empty())
            writeFile(setFile("partmap.txt"), c.map);
        const std::string before = readFile(device());
        EventLog rec = install(c.set, nullptr, emmc(c.boot));
        if (c.message.endsWith("..."))
            EXPECT_TRUE(rec.errorText().startsWith(c.message.chopped(3))) << qPrintable(rec.errorText());
        else
            EXPECT_EQ(rec.errorText(), c.message);
        EXPECT_EQ(rec.count(1111), 0);
        EXPECT_EQ(fileSize(device()), c.deviceBytes);
        EXPECT_TRUE(readFile(device()) == before) << "the device changed";
    }
}

TEST_F(InstallJob, VerifiedInstallsReadBackEveryImage)
{
    REQUIRE_INSTALL_TOOLS();
    if (!haveTool("xxhsum") || !haveTool("simg2img"))
        GTEST_SKIP() << "xxhsum or simg2img not installed";
    auto xxh3 = [&](const std::string &path) {
        std::string out = run("xxhsum -H3 " + shq(path)).out;
        return QString::fromStdString(out.substr(out.rfind('=') + 2, 16));
    };
    makeExt4(m_root.file("rootfs.raw"), 6, "rootfs");
    ASSERT_EQ(run("img2simg " + shq(m_root.file("rootfs.raw")) + " " + shq(setFile("rootfs.img")) + " && simg2img " +
                  shq(setFile("rootfs.img")) + " " + shq(m_root.file("rootfs.exp"))).status, 0);
    blob(setFile("boot.img"), MiB + 77, 5);
    writeFile(setFile("partmap.txt"), "flash=mmc,0:boot:ext4:0x100000,0x200000:boot.img;\n"
                                      "flash=mmc,0:rootfs:ext4:0x300000,0x800000:rootfs.img;\n");
    // Expanded images in write order, and where they go.
    const std::string sources[] = {setFile("boot.img"), m_root.file("rootfs.exp")};
    const int64_t offsets[] = {0x100000, 0x300000};
    for (bool verify : {true, false}) {
        SCOPED_TRACE(verify ? "verified" : "unverified");
        makeDevice(16 * MiB);
        QList<WrittenImage> written;
        EventLog rec = install(mapSet(), [&](SDUpdateThread &job) {
            job.setVerifyAfterWrite(verify);
            QObject::connect(&job, &QThread::finished, [&] { written = job.writtenImages(); });
        });
        ASSERT_EQ(rec.errorText(), "");
        ASSERT_EQ(written.size(), 2);
        // Each verifying percent after the first is followed by its speed event.
        QMap<int, QList<int>> checks;
        for (int k = 0; k < rec.events.size(); ++k) {
            const RecordedEvent &e = rec.events[k];
            if (e.type != 1100 || !e.verifying)
                continue;
            checks[e.fileIndex].append(e.percent);
            if (e.percent == 0)
                continue;
            ASSERT_LT(k + 1, rec.events.size());
            const RecordedEvent &s = rec.events[k + 1];
            EXPECT_EQ(s.type, 1101);
            EXPECT_EQ(s.imageName, e.imageName);
            EXPECT_EQ(s.bytesDone * 100 / s.bytesTotal, e.percent);
            EXPECT_EQ(s.bytesDone == s.bytesTotal, e.percent == 100);
        }
        EXPECT_EQ(checks.size(), verify ? 2 : 0);
        for (int i = 0; i < 2; ++i) {
            EXPECT_TRUE(deviceRangeEquals(sources[i], offsets[i]));
            EXPECT_EQ(written[i].bytes, fileSize(sources[i]));
            EXPECT_EQ(written[i].hash, verify ? xxh3(sources[i]) : QString());
            if (verify) {
                EXPECT_EQ(checks[i + 1].first(), 0);
                EXPECT_EQ(checks[i + 1].last(), 100);
            }
        }
    }

    // A byte changed after the flush, in an image and in the second IDB loader copy.
    blob(setFile("idbloader.img"), 100000, 4);
    writeFile(setFile("rk.txt"), "FIRMWARE_VER: 1.0\nMACHINE_MODEL: RK3399\nMANUFACTURER: RK3399\n"
                                 "CMDLINE: mtdparts=rk29xxnand:-@0x00004000(boot)\n");
    const struct { OSConfig set; int64_t flip; const char *error; } faults[] = {
        {mapSet(), 0x100000 + MiB + 50, "/mnt/sdcard/set/boot.img (partition boot) differs from what was written "
                                        "at device offset 2097152."},
        {rawSet("rk.txt"), 64 * 512 + 0x80000 + 99, "/mnt/sdcard/set/idbloader.img (partition idbloader.img) differs "
                                                    "from what was written at device offset 32768."},
    };
    for (const auto &f : faults) {
        makeDevice(16 * MiB);
        write_verify_set_test_hook([&] { flipByte(device(), f.flip); });
        EventLog rec = install(f.set, [](SDUpdateThread &job) { job.setVerifyAfterWrite(true); });
        write_verify_set_test_hook(nullptr);
        EXPECT_EQ(rec.errorText(), QStringLiteral("Verification failed: ") + f.error);
        EXPECT_EQ(rec.count(1111), 0);
    }
}

TEST_F(InstallJob, FullDeviceFailsTheWrite)
{
    // A 64 MiB device file on a 4 MiB tmpfs: the write runs out of space.
    if (geteuid() != 0)
        GTEST_SKIP() << "mounting a tmpfs needs root";
    std::string devDir = m_root.file("dev");
    if (mount("imgsmith-test", devDir.c_str(), "tmpfs", 0, "size=4m") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs: " << strerror(errno);
    makeDevice(64 * MiB);
    blob(setFile("root.img"), 8 * MiB, 12);
    writeFile(setFile("partmap.txt"), "flash=mmc,0:root:raw:0x100000,0x1000000:root.img;\n");
    EventLog rec = install(mapSet());
    EXPECT_EQ(rec.errorText(), "Failed to write image file: /mnt/sdcard/set/root.img.");
    EXPECT_EQ(rec.count(1111), 0);
    EXPECT_EQ(umount2(devDir.c_str(), MNT_DETACH), 0);
}

TEST_F(InstallJob, CancelMidWriteReleasesTheDevice)
{
    makeDevice(48 * MiB);
    blob(setFile("big.img"), 32 * MiB, 8);
    blob(setFile("next.img"), 4096, 9);
    writeFile(setFile("partmap.txt"), "flash=mmc,0:big:raw:0x100000,0x2000000:big.img;\n"
                                      "flash=mmc,0:next:raw:0x2100000,0x100000:next.img;\n");
    BUFFER_SIZE = MiB;
    EventLog rec = install(mapSet(), [](SDUpdateThread &job) {
        job.setProgressObserver([&job](int fileIndex, int percent) {
            if (fileIndex == 1 && percent >= 10)
                job.cancel();
        });
    });
    EXPECT_EQ(rec.errorText(), "The install was cancelled.");
    EXPECT_EQ(rec.count(1111), 0);
    for (const RecordedEvent &e : rec.ofType(1100))
        EXPECT_TRUE(e.isError || (e.fileIndex == 1 && e.percent < 100)) << "no progress after the cancel point";
    // Stopped between chunks: the tail of the image never reached the device.
    EXPECT_TRUE(deviceRangeIsZero(0x100000 + 16 * MiB, 16 * MiB));
    EXPECT_EQ(mmc_fd, -1);
}

TEST_F(InstallJob, NullSystemDeviceParameterTextAsMapAndAWholeDeviceImage)
{
    REQUIRE_INSTALL_TOOLS();
    makeDevice(16 * MiB);
    // Leftover bytes without the 0x55AA signature are no table to follow.
    junkHead(false);
    // "dtbo.img" and no system device: the system plan is "/dev/null".
    writeFile(setFile("dtbo.img"), "not used");
    writeFile(setFile("partmap.txt"), "flash=mmc,0:boot:ext4:0x100000,0x100000:boot.img;\n");
    blob(setFile("boot.img"), 4096, 3);
    // The devices cannot change while the job runs.
    EventLog rec = install(mapSet(), [](SDUpdateThread &job) {
        job.setProgressObserver([&job](int, int) { job.updateDeviceChanged(TargetDevice(TargetDeviceNVMe, "nvme0n1"), TargetDevice()); });
    });
    ASSERT_EQ(rec.errorText(), "");
    ASSERT_EQ(rec.count(1111), 1);
    EXPECT_EQ(rec.ofType(1111).first().systemDevName, "null");
    EXPECT_EQ(rec.ofType(1111).first().bootDevName, "mmcblk2");
    EXPECT_TRUE(deviceRangeEquals(setFile("boot.img"), 0x100000));

    // A "raw image" that is a Rockchip parameter file follows the map flow.
    makeDevice(16 * MiB);
    blob(setFile("idbloader.img"), 100000, 4);
    blob(setFile("kernel.img"), 300000, 5);
    writeFile(setFile("rk.txt"), "FIRMWARE_VER: 1.0\nMACHINE_MODEL: RK3399\nMANUFACTURER: RK3399\n"
                                 "CMDLINE: mtdparts=rk29xxnand:0x00001000@0x00002000(kernel),-@0x00004000(rootfs)\n");
    // Verified: the loader and parameter copies are read back too.
    rec = install(rawSet("rk.txt"), [](SDUpdateThread &job) { job.setVerifyAfterWrite(true); });
    ASSERT_EQ(rec.errorText(), "");
    EXPECT_TRUE(deviceRangeEquals(setFile("idbloader.img"), 64 * 512));
    EXPECT_TRUE(deviceRangeEquals(setFile("idbloader.img"), 64 * 512 + 0x80000));
    EXPECT_TRUE(deviceRangeEquals(setFile("kernel.img"), (0x2000 + 8192) * 512));
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(readBytes(device(), 8192 * 512, 4).data()), 4), "PARM");

    // A raw image exactly as large as the device is written whole.
    writeFile(setFile("disk.raw"), patternBytes(static_cast<size_t>(16 * MiB), 6));
    rec = install(rawSet("disk.raw"));
    ASSERT_EQ(rec.errorText(), "");
    EXPECT_EQ(run("cmp " + shq(setFile("disk.raw")) + " " + shq(device())).status, 0);
}

TEST(InstallJobLoop, LowFormatEventsComeBeforeAnyTable)
{
    std::string reason = loopUnavailableReason();
    if (!reason.empty())
        GTEST_SKIP() << reason;
    TempDir dir;
    // 300 MiB: three 128 MiB discard pieces, so the erase reports progress.
    makeSparseFile(dir.file("disk"), 300 * MiB);
    writeBytes(dir.file("disk"), 0, patternBytes(MiB, 1));
    LoopDevice loop(dir.file("disk"));
    if (!loop.ok())
        GTEST_SKIP() << "cannot attach a loop device: " << loop.error();
    writeFile(dir.file("partmap.txt"), "flash=mmc,0:boot:ext4:0x100000,0x100000:boot.img;\n");
    writeFile(dir.file("boot.img"), patternBytes(4096, 3));

    SDUpdateThread job(set(Linux, "partmap.txt", QString::fromStdString(dir.path())), emmc(QString::fromStdString(loop.dev()).mid(5)),
                       TargetDevice());
    job.setLowFormat(true);
    const EventLog rec = runInstall(job);
    ASSERT_EQ(rec.errorText(), "");
    ASSERT_EQ(rec.count(1111), 1);
    QList<RecordedEvent> lf = rec.ofType(1110);
    ASSERT_GE(lf.size(), 2);
    EXPECT_TRUE(lf.first().inProgress);
    EXPECT_FALSE(lf.last().inProgress);
    EXPECT_EQ(lf.last().percent, 0);
    EXPECT_EQ(std::count_if(lf.begin(), lf.end(), [](const RecordedEvent &e) { return !e.inProgress; }), 1)
        << "one low-format-finished event per device";
    // The erase is over before the first partition is announced.
    auto firstProgress = std::find_if(rec.events.begin(), rec.events.end(), [](const RecordedEvent &e) { return e.type == 1100; });
    ASSERT_NE(firstProgress, rec.events.end());
    EXPECT_TRUE(std::none_of(firstProgress, rec.events.end(), [](const RecordedEvent &e) { return e.type == 1110; }));
    std::string sf = sfdiskJson(loop.dev());
    EXPECT_NE(sf.find("\"start\":2048,\"size\":2048"), std::string::npos) << sf;
}

// Event forms no whole job reaches (the discard callback's finished event,
// an error without progress fields), and events posted with no receiver
// set, which are dropped rather than delivered to the next one.
TEST(InstallEvents, FormsNoJobReachesAndNoReceiver)
{
    EventRecorder rec;
    setInstallEventReceiver(&rec);
    postProgressMessage(false, "/mnt/sdcard/a/boot.img", "boot", 42, 5, 2);
    lowformat_callback("/dev/mmcblk2", 1, 1, 0, 33);
    lowformat_callback("/dev/mmcblk2", 1, 1, 1, 77);
    postErrorMessage("Fail to open device: /dev/mmcblk2");
    QCoreApplication::sendPostedEvents(&rec);
    setInstallEventReceiver(nullptr);
    ASSERT_EQ(rec.events.size(), 4);
    EXPECT_TRUE(rec.events[1].inProgress);
    EXPECT_EQ(rec.events[1].percent, 33);
    EXPECT_FALSE(rec.events[2].inProgress);
    EXPECT_EQ(rec.events[2].percent, 0);
    EXPECT_TRUE(rec.events[3].isError);
    EXPECT_EQ(rec.events[3].percent, 0);
    EXPECT_TRUE(rec.events[3].imageName.isEmpty());

    postErrorMessage("nobody listens");
    EventRecorder later;
    setInstallEventReceiver(&later);
    QCoreApplication::sendPostedEvents();
    setInstallEventReceiver(nullptr);
    EXPECT_TRUE(later.events.isEmpty());
}
