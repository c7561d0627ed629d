// Device access: open errors, capacity of files, character and loop
// devices, discard with its progress on a loop device.
#include "storage_fixture.h"

using namespace testsupport;

namespace {
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
} // namespace

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

    // "/dev/mmcblk2" of a simulated board is <root>/dev/mmcblk2; a size that
    // is no multiple of 512 counts whole sectors.
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
    const std::string why = loopUnavailableReason();
    if (!why.empty())
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
