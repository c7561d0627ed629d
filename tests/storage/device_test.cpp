// Device access: open errors, capacity of files, character and loop
// devices, discard with its progress on a loop device, short writes.
#include "storage_fixture.h"

#include <csignal>
#include <sys/resource.h>

using namespace testsupport;

namespace {
struct DiscardCall
{
    std::string name;
    int a, b, done, pct;
};

// Lowers the file size limit of the process for one test, so that a write
// crossing it is cut short by the kernel (as a full disk would).
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t limit)
    {
        getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = signal(SIGXFSZ, SIG_IGN);
        rlimit r = m_old;
        r.rlim_cur = limit;
        setrlimit(RLIMIT_FSIZE, &r);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_old);
        signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_old;
    sighandler_t m_oldHandler;
};
} // namespace

TEST_F(StorageTest, MissingDeviceIsReportedWithErrno)
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
}

TEST_F(StorageTest, PathsResolveBelowSimulationRoot)
{
    // "/dev/mmcblk2" of a simulated board is <root>/dev/mmcblk2.
    makeSparseFile(file("dev/mmcblk2"), 8 << 20);
    int isBlock = -1, ss = 0;
    EXPECT_EQ(get_disk_capacity("/dev/mmcblk2", &isBlock, &ss), (8 << 20) / 512);
    EXPECT_EQ(isBlock, 0);
    ASSERT_GE(mmc_open("/dev/mmcblk2"), 0);
    EXPECT_EQ(mmc_write("/dev/mmcblk2", 4096, 5, "hello"), 5);
    EXPECT_EQ(mmc_release(), 0);
    char buf[5];
    EXPECT_EQ(mmc_read("/dev/mmcblk2", 4096, 5, buf), 5);
    EXPECT_EQ(std::string(buf, 5), "hello");
    // Reading past the end returns what is there.
    EXPECT_EQ(mmc_read("/dev/mmcblk2", (8 << 20) - 2, 5, buf), 2);
}

TEST_F(StorageTest, CapacityOfRegularFileAndCharacterDevice)
{
    makeSparseFile(file("disk.img"), 10 * 1024 * 1024 + 700);
    int isBlock = -1;
    EXPECT_EQ(get_disk_capacity(file("disk.img").c_str(), &isBlock, nullptr), (10 * 1024 * 1024 + 700) / 512);
    EXPECT_EQ(isBlock, 0);
    const std::string null = linkDevice("/dev/null");
    isBlock = -1;
    int ss = -1;
    EXPECT_EQ(get_disk_capacity(null.c_str(), &isBlock, &ss), 0);
    EXPECT_EQ(isBlock, 0);
    EXPECT_EQ(get_disk_capacity(file("missing").c_str(), &isBlock, &ss), -1);
    EXPECT_NE(log().find("Fail, open "), std::string::npos);
}

TEST_F(StorageTest, ShortWritesFailInsteadOfPassing)
{
    // A target that accepts only part of a write (file size limit standing in
    // for a full card): the copy must fail, not report success.
    const std::string tgt = makeTarget("target.img", 0);
    const std::vector<uint8_t> data = patternBytes(4 * 64 * 1024, 5);
    writeFile(file("src.img"), std::string(data.begin(), data.end()));
    ASSERT_GE(mmc_open(tgt.c_str()), 0);
    FILE *fp = openRead(file("src.img"));
    int ret;
    {
        FileSizeLimit limit(2 * 64 * 1024 + 1000);
        ret = write_raw(tgt.c_str(), 0, data.size(), fp, data.size(), "src.img", "p", 1, 1);
    }
    EXPECT_EQ(ret, -1);
    EXPECT_EQ(mmc_release(), 0);
    for (int p : percents(m_progress))
        EXPECT_LT(p, 100);
}

TEST_F(StorageTest, DiscardOnRegularFileFailsButStillSignalsDone)
{
    makeSparseFile(file("disk.img"), 1 << 20);
    ASSERT_GE(mmc_open(file("disk.img").c_str()), 0);
    std::vector<DiscardCall> calls;
    const int ret = mmc_discard(file("disk.img").c_str(), 0, 1 << 20, "disk", 1, 1,
                                [&](const char *n, int a, int b, int done, int pct) {
                                    calls.push_back({n, a, b, done, pct});
                                });
    EXPECT_LT(ret, 0);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].done, 1);
    EXPECT_NE(log().find("ioctl BLKDISCARD failed"), std::string::npos);
}

class LoopTest : public StorageTest
{
protected:
    void SetUp() override
    {
        StorageTest::SetUp();
        const std::string why = loopUnavailableReason();
        if (!why.empty())
            GTEST_SKIP() << why;
    }
};

TEST_F(LoopTest, CapacityAndSectorSizeOfLoopDevices)
{
    for (int ss : {512, 4096}) {
        SCOPED_TRACE(ss);
        const std::string img = makeTarget("disk" + std::to_string(ss) + ".img", 32 << 20);
        LoopDevice loop(img, ss);
        ASSERT_TRUE(loop.ok()) << loop.error();
        const std::string dev = linkDevice(loop.dev());
        int isBlock = 0, sector = 0;
        EXPECT_EQ(get_disk_capacity(dev.c_str(), &isBlock, &sector), (32 << 20) / 512);
        EXPECT_EQ(isBlock, 1);
        EXPECT_EQ(sector, ss);
    }
}

TEST_F(LoopTest, DiscardReportsThirdsAndZeroesTheRange)
{
    const int64_t piece = 128LL << 20;
    const std::string img = makeTarget("disk.img", 3 * piece + (1 << 20));
    const std::vector<uint8_t> data = patternBytes(1 << 20, 11);
    for (int64_t at : {int64_t(0), piece + 4096, 3 * piece - (1 << 20), 3 * piece})
        writeBytes(img, at, data);
    LoopDevice loop(img);
    ASSERT_TRUE(loop.ok()) << loop.error();
    const std::string dev = linkDevice(loop.dev());
    ASSERT_GE(mmc_open(dev.c_str()), 0);
    std::vector<DiscardCall> calls;
    const int ret = mmc_discard(dev.c_str(), 0, 3 * piece, dev.c_str(), 1, 1,
                                [&](const char *n, int a, int b, int done, int pct) {
                                    calls.push_back({n, a, b, done, pct});
                                });
    EXPECT_EQ(mmc_release(), 0);
    if (ret == -EOPNOTSUPP || ret == -ENOTTY)
        GTEST_SKIP() << "loop device refuses BLKDISCARD here (" << ret << ")";
    ASSERT_EQ(ret, 0);
    std::vector<std::pair<int, int>> seen;
    for (const DiscardCall &c : calls) {
        seen.push_back({c.done, c.pct});
        EXPECT_EQ(c.name, dev);
        EXPECT_EQ(c.a, 1);
        EXPECT_EQ(c.b, 1);
    }
    const std::vector<std::pair<int, int>> want = {{0, 0}, {0, 33}, {0, 66}, {0, 100}, {1, 0}};
    EXPECT_EQ(seen, want);
    // The discarded range reads back as zeros; the MiB after it is kept.
    EXPECT_TRUE(allZero(img, 0, 1 << 20));
    EXPECT_TRUE(allZero(img, piece + 4096, 1 << 20));
    EXPECT_TRUE(allZero(img, 3 * piece - (1 << 20), 1 << 20));
    EXPECT_EQ(readBytes(img, 3 * piece, 1 << 20), data);
}

TEST_F(LoopTest, DiscardBelowOnePieceIsOneRequest)
{
    const std::string img = makeTarget("disk.img", 64 << 20);
    writeBytes(img, 10 << 20, patternBytes(4096, 2));
    LoopDevice loop(img);
    ASSERT_TRUE(loop.ok()) << loop.error();
    const std::string dev = linkDevice(loop.dev());
    ASSERT_GE(mmc_open(dev.c_str()), 0);
    std::vector<DiscardCall> calls;
    const int ret = mmc_discard(dev.c_str(), 0, 64 << 20, "d", 0, 0,
                                [&](const char *n, int a, int b, int done, int pct) {
                                    calls.push_back({n, a, b, done, pct});
                                });
    EXPECT_EQ(mmc_release(), 0);
    if (ret == -EOPNOTSUPP || ret == -ENOTTY)
        GTEST_SKIP() << "loop device refuses BLKDISCARD here (" << ret << ")";
    ASSERT_EQ(ret, 0);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].done, 1);
    EXPECT_EQ(calls[0].pct, 0);
    EXPECT_TRUE(allZero(img, 10 << 20, 4096));
}
