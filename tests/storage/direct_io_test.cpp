// Direct I/O writers and their read-back on every kind of target, failures
// and cancels that release the device; open errors, capacity and discard.
#include "sparse_builder.h"
#include "storage/imagewriter.h"
#include "storage/write_verify.h"
#include "storage_fixture.h"
#include "util/paths.h"

#include <atomic>
#include <cstdarg>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <linux/fs.h>
#include <memory>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace testsupport;

// Interposed before the C library's: armed, they refuse direct transfers
// (EINVAL after an accepted O_DIRECT open) and BLKZEROOUT.
namespace {
std::atomic<int> g_refuseDirect{0};
std::atomic<bool> g_refuseZeroing{false};

bool refuseDirect(int fd)
{
    return g_refuseDirect.load() > 0 && (fcntl(fd, F_GETFL) & O_DIRECT) && g_refuseDirect.fetch_sub(1) > 0;
}

// One instantiation, so one `real`, per signature: the three differ.
template <typename R, typename... A>
R realOrRefuse(const char *name, int err, A... args)
{
    static const auto real = reinterpret_cast<R (*)(A...)>(dlsym(RTLD_NEXT, name));
    if (err == 0)
        return real(args...);
    errno = err;
    return -1;
}
} // namespace

extern "C" ssize_t pwrite64(int fd, const void *buf, size_t n, off64_t off)
{
    return realOrRefuse<ssize_t>("pwrite64", refuseDirect(fd) ? EINVAL : 0, fd, buf, n, off);
}

extern "C" ssize_t pread64(int fd, void *buf, size_t n, off64_t off)
{
    return realOrRefuse<ssize_t>("pread64", refuseDirect(fd) ? EINVAL : 0, fd, buf, n, off);
}

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept
{
    va_list ap;
    va_start(ap, request);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    const bool refuse = request == BLKZEROOUT && g_refuseZeroing;
    return realOrRefuse<int>("ioctl", refuse ? EOPNOTSUPP : 0, fd, request, arg);
}

namespace {
constexpr int64_t MiB = 1 << 20;
constexpr int64_t DISK = 16 * MiB;

struct Target
{
    std::string kind;
    std::string path;       // what mmc_open gets
    std::string contents;   // where its bytes are read back
    bool refusesTransfers = false;   // opens with O_DIRECT, then refuses it
};

// As file system images look: zero blocks, zero MiBs, a zero odd tail.
std::vector<uint8_t> imageData()
{
    std::vector<uint8_t> d = patternBytes(7 * MiB + 3 * 4096 + 777, 61);
    for (size_t at = 8192; at < MiB; at += 5 * 4096)
        std::fill(d.begin() + at, d.begin() + at + 4096, 0);
    std::fill(d.begin() + 2 * MiB, d.begin() + 4 * MiB + 4096, 0);
    std::fill(d.begin() + 5 * MiB + 100, d.end(), 0);
    return d;
}

struct DiscardCall
{
    std::string name;
    int a, b, done, pct;
};

// mmc_discard of [0, len) on the open `dev`, its progress calls in `calls`.
int discard(const std::string &dev, int64_t len, const std::string &name, std::vector<DiscardCall> *calls)
{
    return mmc_discard(dev.c_str(), 0, len, name.c_str(), 1, 1, [calls](const char *n, int a, int b, int done, int pct) {
        calls->push_back({n, a, b, done, pct});
    });
}

// Whether this process holds a descriptor of `path`, by /proc/<pid>/fd.
bool deviceStillOpen(const std::string &path)
{
    const std::string target = std::filesystem::weakly_canonical(imgsmith::sysPath(path));
    return !run("find /proc/" + std::to_string(getpid()) + "/fd -lname " + shq(target)).out.empty();
}

template <image_compression K>
int writeCompressed(const char *dev, int64_t at, int64_t partSize, FILE *fp, int64_t size, const char *image,
                    const char *part, int count, int index)
{
    return write_raw_compressed(K, dev, at, partSize, fp, size, image, part, count, index);
}

class DirectIoTest : public StorageTest
{
protected:
    void SetUp() override
    {
        StorageTest::SetUp();
        // Slots of 1 MiB written as pieces of 256 KiB: several in flight.
        BUFFER_SIZE = 4 * MiB;
    }
    void TearDown() override
    {
        m_loop.reset();
        if (!m_ramfs.empty())
            umount(m_ramfs.c_str());
        StorageTest::TearDown();
    }

    // Every target kind this machine offers; the others named in m_missing.
    std::vector<Target> targets()
    {
        std::vector<Target> t;
        t.push_back({"disk file", makeTarget("disk.img", DISK), file("disk.img")});
        t.push_back({"disk file refusing direct transfers", t.back().path, t.back().contents, true});
        m_shm.reset(new TempDir("/dev/shm"));
        // Reached through a link below the simulation root.
        makeSparseFile(m_shm->file("t.img"), DISK);
        EXPECT_EQ(symlink(m_shm->file("t.img").c_str(), file("shm.img").c_str()), 0);
        t.push_back({"tmpfs file", file("shm.img"), m_shm->file("t.img")});
        const std::string ramfs = file("ramfs");
        mkdir(ramfs.c_str(), 0755);
        if (mount("none", ramfs.c_str(), "ramfs", 0, nullptr) == 0) {
            m_ramfs = ramfs;
            makeSparseFile(ramfs + "/t.img", DISK);
            t.push_back({"ramfs file (no O_DIRECT)", ramfs + "/t.img", ramfs + "/t.img"});
        } else {
            m_missing += " ramfs: mount not permitted;";
        }
        const std::string why = loopUnavailableReason();
        if (why.empty()) {
            makeSparseFile(file("loop.img"), DISK);
            m_loop.reset(new LoopDevice(file("loop.img")));
            EXPECT_TRUE(m_loop->ok()) << m_loop->error();
            if (m_loop->ok()) {
                t.push_back({"loop device refusing direct transfers", linkDevice(m_loop->dev()), file("loop.img"), true});
                t.push_back({"loop device", t.back().path, t.back().contents});
            }
        } else {
            m_missing += " loop device: " + why;
        }
        return t;
    }

    // Fills the whole target with bytes no writer produces.
    void prefill(const Target &t)
    {
        ASSERT_GE(mmc_open(t.path.c_str()), 0);
        ASSERT_EQ(mmc_write(t.path.c_str(), 0, DISK, m_old.data()), DISK);
        ASSERT_EQ(mmc_release(), 0);
    }

    // Read-back of what the last writer put on `t`, with the byte at `flip`
    // (unless negative) changed on the device once the data is flushed.
    int readBack(const Target &t, int64_t flip, int64_t *named = nullptr)
    {
        write_verify_set_test_hook(flip < 0 ? std::function<void()>() : [&t, flip] { flipByte(t.contents, flip); });
        g_refuseDirect = t.refusesTransfers ? 1 : 0;
        return write_verify_readback(t.path.c_str(), nullptr, named);
    }

    // [at, at + ref's size) holds ref (cmp), everything else the old bytes.
    void expectWritten(const Target &t, const std::string &ref, int64_t at)
    {
        const int64_t n = fileSize(ref);
        EXPECT_EQ(cmpAt(ref, 0, t.contents, at, n), "");
        const std::vector<uint8_t> got = readBytes(t.contents, 0, size_t(DISK));
        ASSERT_EQ(got.size(), size_t(DISK));
        EXPECT_TRUE(std::equal(got.begin(), got.begin() + at, m_old.begin()));
        EXPECT_TRUE(std::equal(got.begin() + at + n, got.end(), m_old.begin() + at + n));
    }

    std::vector<uint8_t> m_old = patternBytes(DISK, 77);
    std::unique_ptr<TempDir> m_shm;
    std::unique_ptr<LoopDevice> m_loop;
    std::string m_ramfs, m_missing;
};
} // namespace

TEST_F(DirectIoTest, EveryWriterIsByteExactAndReadBackOnEveryTarget)
{
    REQUIRE_TOOLS("simg2img", "gzip", "xz", "zstd", "cmp");
    const std::vector<uint8_t> data = imageData();
    const std::string raw = put("image.raw", data);
    // xz in blocks of an odd size, which its block writer puts on the
    // device out of order; a dictionary small enough for several decoders
    // in the memory of these slots.
    ASSERT_EQ(run("gzip -kf " + shq(raw) + " && xz -1 -T2 --block-size=1000000 -kf " + shq(raw) + " && zstd -qf " +
                  shq(raw))
                  .status,
              0);
    // Small fills between raw blocks, whole zero MiBs, a fill beyond a slot.
    SparseBuilder sb;
    const std::vector<uint8_t> blk = patternBytes(3 * 4096, 62);
    for (int i = 0; i < 40; ++i)
        sb.raw(blk).fill(1, i % 3 ? 0 : 0x5A5A5A5A);
    sb.fill(512, 0).raw(blk).fill(700, 0xDEADBEEF).raw({blk.begin(), blk.begin() + 4096});
    const std::string simg = put("image.simg", sb.bytes()), expanded = file("image.simg.raw");
    ASSERT_EQ(run("simg2img " + shq(simg) + " " + shq(expanded)).status, 0);
    // Each image with what it expands to; raw last, whose result the
    // back-up reads.
    const struct
    {
        std::string image, expanded;
        decltype(&write_raw) write;
    } writers[] = {{raw + ".gz", raw, write_raw_gz},
                   {simg, expanded, write_image},
                   {raw + ".xz", raw, writeCompressed<IMAGE_XZ>},
                   {raw + ".zst", raw, writeCompressed<IMAGE_ZSTD>},
                   {raw, raw, write_raw}};
    stream_set_verify(true);

    for (const Target &t : targets()) {
        const size_t logFrom = log().size();
        for (int64_t at : {int64_t(0), 3 * MiB + 512}) {
            SCOPED_TRACE(t.kind + " at " + std::to_string(at));
            for (const auto &w : writers) {
                prefill(t);
                ASSERT_GE(mmc_open(t.path.c_str()), 0);
                g_refuseDirect = t.refusesTransfers ? 1 : 0;
                EXPECT_EQ(w.write(t.path.c_str(), at, DISK - at, openRead(w.image), fileSize(w.image), "w", "p", 1, 1),
                          0)
                    << w.image;
                // Read back as written, then with a byte gone bad: where
                // direct reads are refused too.
                const int64_t flip = at + fileSize(w.expanded) / 2;
                int64_t named = -1;
                EXPECT_EQ(readBack(t, -1), 0) << w.image;
                EXPECT_EQ(readBack(t, flip, &named), WRITE_VERIFY_MISMATCH) << w.image;
                EXPECT_EQ(named / MiB, flip / MiB) << w.image;
                EXPECT_EQ(mmc_release(), 0);
                flipByte(t.contents, uint64_t(flip));
                expectWritten(t, w.expanded, at);
            }
            // Back-up of what the raw writer (the last) put there, read directly.
            ASSERT_GE(mmc_open(t.path.c_str()), 0);
            FILE *out = fopen(file("backup.raw").c_str(), "wb");
            ASSERT_NE(out, nullptr);
            g_refuseDirect = t.refusesTransfers ? 1 : 0;
            EXPECT_EQ(read_raw(t.path.c_str(), at, fileSize(raw), out, fileSize(raw), "b", "p", 1, 1), 0);
            EXPECT_EQ(fclose(out), 0);
            EXPECT_EQ(mmc_release(), 0);
            EXPECT_EQ(cmpAt(raw, 0, file("backup.raw"), 0, fileSize(raw)), "");
            EXPECT_EQ(fileSize(file("backup.raw")), fileSize(raw));
        }
        // The fallback is taken only where direct I/O is refused.
        const bool refused =
            log().find("direct I/O not available on " + imgsmith::sysPath(t.path)) != std::string::npos;
        EXPECT_EQ(refused, t.kind.find("no O_DIRECT") != std::string::npos) << t.kind;
        const std::string said = log().substr(logFrom);
        EXPECT_EQ(said.find("direct write refused") != std::string::npos, t.refusesTransfers) << t.kind;
        EXPECT_EQ(said.find("direct read refused") != std::string::npos, t.refusesTransfers) << t.kind;
    }
    g_refuseDirect = 0;
    if (!m_missing.empty())
        GTEST_SKIP() << "not checked:" << m_missing;
}

TEST_F(DirectIoTest, WriteErrorAndCancelOnABlockDeviceReleaseIt)
{
    if (const std::string why = loopUnavailableReason(); !why.empty())
        GTEST_SKIP() << why;
    // The fourth 1 MiB chunk runs past the end of a 3 MiB device.
    makeSparseFile(file("small.img"), 3 * MiB);
    LoopDevice small(file("small.img"));
    ASSERT_TRUE(small.ok()) << small.error();
    const std::string dev = linkDevice(small.dev()), raw = put("image.raw", imageData());
    ASSERT_GE(mmc_open(dev.c_str()), 0);
    EXPECT_TRUE(deviceStillOpen(dev));
    EXPECT_EQ(write_raw(dev.c_str(), 0, 0, openRead(raw), fileSize(raw), "r", "p", 1, 1), -1);
    EXPECT_EQ(mmc_release(), 0);
    EXPECT_FALSE(deviceStillOpen(dev));
    EXPECT_EQ(cmpAt(raw, 0, file("small.img"), 0, 3 * MiB), "");
    for (int p : percents(m_progress))
        EXPECT_LT(p, 100);

    // Cancel before the start or at a progress report: what it counted is on
    // the device, nothing after it. The second image reports while a zero
    // run is held back for the next chunk: the cancel must still zero it.
    std::vector<uint8_t> held = patternBytes(7 * MiB, 63);
    std::fill(held.begin() + 3 * MiB, held.begin() + 6 * MiB, 0);
    const struct
    {
        std::string image;
        int bufferSize, cancelAt;
        size_t target;
    } cases[] = {{raw, int(4 * MiB), 1, 0},
                 {put("held.raw", held), int(8 * MiB), 2, 1},
                 {raw, int(4 * 64 * 1024), 0, 1},
                 {raw, int(4 * 64 * 1024), 3, 1}};
    const std::vector<Target> all = targets();
    ASSERT_EQ(all.back().kind, "loop device");
    for (const auto &c : cases) {
        const Target &loop = c.target == 0 ? all.back() : all.front();
        SCOPED_TRACE(c.image + " onto " + loop.kind);
        BUFFER_SIZE = c.bufferSize;
        prefill(loop);
        std::atomic<bool> cancel{c.cancelAt == 0};
        int reports = 0;
        stream_set_cancel_flag(&cancel);
        m_speed.clear();
        gui_setup_progress_report_function(
            "test",
            [&](bool, const std::string &, const std::string &, int percent, int, int) {
                EXPECT_LT(percent, 100);
                if (++reports == c.cancelAt)
                    cancel = true;
            },
            [&](const std::string &, const std::string &, int64_t done, int64_t, double) {
                m_speed.push_back({done, 0, 0});
            });
        ASSERT_GE(mmc_open(loop.path.c_str()), 0);
        EXPECT_EQ(write_raw(loop.path.c_str(), 0, 0, openRead(c.image), fileSize(c.image), "r", "p", 1, 1),
                  MMC_COPY_CANCELLED);
        EXPECT_EQ(mmc_release(), 0);
        stream_set_cancel_flag(nullptr);
        EXPECT_FALSE(deviceStillOpen(loop.path));
        ASSERT_FALSE(m_speed.empty());
        const int64_t done = m_speed.back().done;
        EXPECT_EQ(done > 0, c.cancelAt > 0);
        EXPECT_EQ(cmpAt(c.image, 0, loop.contents, 0, done), "");
        const std::vector<uint8_t> rest = readBytes(loop.contents, uint64_t(done), size_t(DISK - done));
        EXPECT_TRUE(std::equal(rest.begin(), rest.end(), m_old.begin() + done));
    }
}

TEST_F(DirectIoTest, ZeroRunsGoToTheDeviceOnlyWhenItsQueueCanZero)
{
    const std::string why = loopUnavailableReason();
    if (!why.empty() || !haveTool("filefrag"))
        GTEST_SKIP() << (why.empty() ? "filefrag missing" : why);
    // One MiB of data, then seven zero MiBs, over a device that held data.
    std::vector<uint8_t> data(8 * MiB, 0);
    const std::vector<uint8_t> head = patternBytes(MiB, 5);
    std::copy(head.begin(), head.end(), data.begin());
    const std::string raw = put("z.raw", data), backing = put("zl.img", patternBytes(8 * MiB, 6));
    LoopDevice loop(backing);
    ASSERT_TRUE(loop.ok()) << loop.error();
    const std::string dev = linkDevice(loop.dev());
    struct stat st;
    ASSERT_EQ(stat(loop.dev().c_str(), &st), 0);
    const std::string queue = file("sys/dev/block/" + std::to_string(major(st.st_rdev)) + ":" +
                                   std::to_string(minor(st.st_rdev)) + "/queue");
    ASSERT_EQ(run("mkdir -p " + shq(queue)).status, 0);
    // Zeroing leaves unwritten extents (or a hole) in the backing file, zeros
    // sent as data do not. Last: the queue says it can, the driver refuses.
    for (const std::string says : {"0", "4294966784", "4294966784 refused"}) {
        SCOPED_TRACE("write_zeroes_max_bytes " + says);
        writeFile(queue + "/write_zeroes_max_bytes", says.substr(0, says.find(' ')) + "\n");
        g_refuseZeroing = says.find("refused") != std::string::npos;
        ASSERT_EQ(run("dd if=/dev/urandom of=" + shq(backing) + " bs=1M count=8 conv=notrunc,fsync status=none").status,
                  0);
        ASSERT_GE(mmc_open(dev.c_str()), 0);
        ASSERT_EQ(write_raw(dev.c_str(), 0, 0, openRead(raw), 8 * MiB, "z", "p", 1, 1), 0);
        ASSERT_EQ(mmc_release(), 0);
        EXPECT_EQ(cmpAt(raw, 0, backing, 0, 8 * MiB), "");
        struct stat bs;
        ASSERT_EQ(stat(backing.c_str(), &bs), 0);
        const bool zeroed = run("filefrag -v " + shq(backing)).out.find("unwritten") != std::string::npos ||
                            int64_t(bs.st_blocks) * 512 < 8 * MiB;
        EXPECT_EQ(zeroed, says == "4294966784");
    }
    g_refuseZeroing = false;
}

TEST_F(StorageTest, OpenErrorsCapacityAndDiscardOfFiles)
{
    EXPECT_EQ(mmc_open(file("nope").c_str()), -ENOENT);
    EXPECT_NE(log().find("cannot access file ("), std::string::npos);
    char buf[16];
    EXPECT_EQ(mmc_read(file("nope").c_str(), 0, sizeof buf, buf), -ENOENT);
    EXPECT_EQ(file_test(nullptr), -ENOENT);
    EXPECT_EQ(file_test(file("nope").c_str()), -ENOENT);
    EXPECT_EQ(file_test(file("tmp").c_str()), 0);
    EXPECT_EQ(mmc_fd, -1);
    // Writes without an open device fail instead of going to descriptor -1.
    EXPECT_LT(mmc_write("x", 0, 4, "abcd"), 0);
    int isBlock = -1, ss = -1;
    EXPECT_EQ(get_disk_capacity(file("missing").c_str(), &isBlock, &ss), -1);
    EXPECT_NE(log().find("Fail, open "), std::string::npos);

    // <root>/dev/mmcblk2; a partial last sector counts.
    makeSparseFile(file("dev/mmcblk2"), (8 << 20) + 700);
    isBlock = -1;
    EXPECT_EQ(get_disk_capacity("/dev/mmcblk2", &isBlock, &ss), (8 << 20) / 512 + 1);
    EXPECT_EQ(isBlock, 0);
    ASSERT_GE(mmc_open("/dev/mmcblk2"), 0);
    EXPECT_EQ(mmc_write("/dev/mmcblk2", 4096, 5, "hello"), 5);
    EXPECT_EQ(mmc_release(), 0);
    EXPECT_EQ(mmc_read("/dev/mmcblk2", 4096, 5, buf), 5);
    EXPECT_EQ(std::string(buf, 5), "hello");
    // Reading past the end returns what is there.
    EXPECT_EQ(mmc_read("/dev/mmcblk2", (8 << 20) + 698, 5, buf), 2);
    isBlock = -1;
    EXPECT_EQ(get_disk_capacity(linkDevice("/dev/null").c_str(), &isBlock, nullptr), 0);
    EXPECT_EQ(isBlock, 0);

    // Discard on a regular file fails but still signals done.
    ASSERT_GE(mmc_open("/dev/mmcblk2"), 0);
    std::vector<DiscardCall> calls;
    EXPECT_LT(discard("/dev/mmcblk2", 1 << 20, "disk", &calls), 0);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].done, 1);
    EXPECT_NE(log().find("ioctl BLKDISCARD failed"), std::string::npos);
}

TEST_F(StorageTest, DiscardOfALoopDeviceReportsThirdsOrOneRequestAndZeroesTheRange)
{
    if (const std::string why = loopUnavailableReason(); !why.empty())
        GTEST_SKIP() << why;
    // Three 128 MiB pieces report each third; below one piece, one request.
    const int64_t piece = 128LL << 20, mib = 1 << 20;
    const std::vector<uint8_t> data = patternBytes(mib, 11);
    struct Case
    {
        int64_t len;
        std::vector<int64_t> marks;   // MiBs of data inside the range
        std::vector<std::pair<int, int>> want;
    };
    const std::vector<Case> cases = {
        {3 * piece, {0, piece + 4096, 3 * piece - mib}, {{0, 0}, {0, 33}, {0, 66}, {0, 100}, {1, 0}}},
        {64 * mib, {10 * mib}, {{1, 0}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.len);
        const std::string img = makeTarget("disk.img", c.len + mib);
        for (int64_t at : c.marks)
            writeBytes(img, at, data);
        writeBytes(img, c.len, data);
        LoopDevice loop(img);
        ASSERT_TRUE(loop.ok()) << loop.error();
        const std::string dev = linkDevice(loop.dev());
        // Capacity in sectors of 512 bytes (4096-byte sectors: gpt_test.cpp).
        int isBlock = 0, sector = 0;
        EXPECT_EQ(get_disk_capacity(dev.c_str(), &isBlock, &sector), (c.len + mib) / 512);
        EXPECT_TRUE(isBlock == 1 && sector == 512);
        ASSERT_GE(mmc_open(dev.c_str()), 0);
        std::vector<DiscardCall> calls;
        const int ret = discard(dev, c.len, dev, &calls);
        EXPECT_EQ(mmc_release(), 0);
        if (ret == -EOPNOTSUPP || ret == -ENOTTY)
            GTEST_SKIP() << "loop device refuses BLKDISCARD here (" << ret << ")";
        ASSERT_EQ(ret, 0);
        std::vector<std::pair<int, int>> seen;
        for (const DiscardCall &d : calls) {
            seen.push_back({d.done, d.pct});
            EXPECT_TRUE(d.name == dev && d.a == 1 && d.b == 1);
        }
        EXPECT_EQ(seen, c.want);
        // The discarded range reads back as zeros; the MiB after it is kept.
        for (int64_t at : c.marks)
            EXPECT_TRUE(zeroAt(img, at, mib)) << at;
        EXPECT_EQ(readBytes(img, c.len, mib), data);
    }
}
