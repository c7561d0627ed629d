// Streamed copy between image files and a target (regular file standing in
// for the device), checked with cmp against the source bytes.
#include "storage_fixture.h"

using namespace testsupport;

namespace {
constexpr int64_t CHUNK = 64 * 1024;
constexpr int64_t OFFSET = 3 * 4096 + 512;   // not chunk aligned on purpose

class CopyTest : public StorageTest
{
protected:
    // Source of `size` bytes, a target prefilled with a pattern, the copy at
    // OFFSET; returns the write_raw result.
    int copyToTarget(int64_t size, int64_t announced = -1)
    {
        m_src = file("src.img");
        writeFile(m_src, std::string(reinterpret_cast<const char *>(patternBytes(size, 7).data()), size));
        m_tgt = file("target.img");
        m_tgtSize = size + OFFSET + 3 * CHUNK;
        const std::vector<uint8_t> fill = patternBytes(m_tgtSize, 99);
        writeFile(m_tgt, std::string(fill.begin(), fill.end()));
        if (mmc_open(m_tgt.c_str()) < 0)
            return -100;
        FILE *fp = openRead(m_src);
        const int ret = write_raw(m_tgt.c_str(), OFFSET, size, fp, announced < 0 ? size : announced, "src.img",
                                  "rootfs", 4, 2);
        EXPECT_EQ(mmc_release(), 0);
        return ret;
    }
    // cmp of the copied range against the source, and of the bytes around
    // it against the original target pattern.
    void expectCopied(int64_t size)
    {
        CmdResult r = run("cmp -n " + std::to_string(size) + " -i 0:" + std::to_string(OFFSET) + " " + shq(m_src) +
                          " " + shq(m_tgt));
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        expectUntouchedFrom(OFFSET + size);
        const std::vector<uint8_t> fill = patternBytes(m_tgtSize, 99);
        EXPECT_EQ(readBytes(m_tgt, 0, OFFSET), std::vector<uint8_t>(fill.begin(), fill.begin() + OFFSET));
    }
    void expectUntouchedFrom(int64_t from)
    {
        const std::vector<uint8_t> fill = patternBytes(m_tgtSize, 99);
        EXPECT_EQ(readBytes(m_tgt, from, m_tgtSize - from), std::vector<uint8_t>(fill.begin() + from, fill.end()));
    }
    std::string m_src, m_tgt;
    int64_t m_tgtSize = 0;
};
} // namespace

TEST_F(CopyTest, SizesAroundChunkBoundariesCopyExactly)
{
    for (int64_t size : {CHUNK, 3 * CHUNK, CHUNK - 1, CHUNK + 1, int64_t(1000), 3 * CHUNK + 5}) {
        SCOPED_TRACE(size);
        m_progress.clear();
        ASSERT_EQ(copyToTarget(size), 0);
        expectCopied(size);
        ASSERT_FALSE(m_progress.empty());
        EXPECT_EQ(m_progress.back().percent, 100);
    }
}

TEST_F(CopyTest, ProgressIsWholePercentOnceEachAndSpeedGrows)
{
    const int64_t size = 250 * CHUNK + 77;
    ASSERT_EQ(copyToTarget(size), 0);
    expectCopied(size);
    const std::vector<int> p = percents(m_progress);
    ASSERT_FALSE(p.empty());
    for (size_t i = 1; i < p.size(); ++i)
        EXPECT_GT(p[i], p[i - 1]) << "percent repeated or went back at " << i;
    EXPECT_EQ(p.back(), 100);
    // At most one report per chunk: 251 chunks, percent changes at most 100 times.
    EXPECT_LE(p.size(), 101u);
    EXPECT_GE(p.size(), 90u);
    for (const ProgressCall &c : m_progress) {
        EXPECT_FALSE(c.erasing);
        EXPECT_EQ(c.image, "src.img");
        EXPECT_EQ(c.partition, "rootfs");
        EXPECT_EQ(c.count, 4);
        EXPECT_EQ(c.index, 2);
    }
    ASSERT_GE(m_speed.size(), m_progress.size());
    for (size_t i = 1; i < m_speed.size(); ++i) {
        EXPECT_GE(m_speed[i].done, m_speed[i - 1].done);
        EXPECT_GE(m_speed[i].ms, m_speed[i - 1].ms);
        EXPECT_EQ(m_speed[i].total, size);
    }
    EXPECT_EQ(m_speed.back().done, size);
}

TEST_F(CopyTest, EmptyFileReportsHundredAtOnce)
{
    ASSERT_EQ(copyToTarget(0), 0);
    expectUntouchedFrom(0);
    EXPECT_EQ(percents(m_progress), std::vector<int>{100});
    ASSERT_FALSE(m_speed.empty());
    EXPECT_EQ(m_speed.back().done, 0);
}

TEST_F(CopyTest, FileShorterThanAnnouncedFailsAndWritesNothingPastIt)
{
    // 2.5 chunks exist, 4 are announced: chunks 0 and 1 are written, the
    // third read comes back short and nothing is written from there on.
    const int64_t size = 2 * CHUNK + CHUNK / 2;
    EXPECT_EQ(copyToTarget(size, 4 * CHUNK), -1);
    EXPECT_NE(log().find("stream_read failed"), std::string::npos) << log();
    CmdResult r = run("cmp -n " + std::to_string(2 * CHUNK) + " -i 0:" + std::to_string(OFFSET) + " " + shq(m_src) +
                      " " + shq(m_tgt));
    EXPECT_EQ(r.status, 0) << r.out;
    expectUntouchedFrom(OFFSET + 2 * CHUNK);
    for (int p : percents(m_progress))
        EXPECT_LT(p, 100);
}

TEST_F(CopyTest, BackupCopiesDeviceRangeIntoFile)
{
    const std::string dev = file("disk.img");
    const std::vector<uint8_t> data = patternBytes(5 * CHUNK + 123, 3);
    writeFile(dev, std::string(data.begin(), data.end()));
    ASSERT_GE(mmc_open(dev.c_str()), 0);
    const std::string out = file("backup.raw");
    FILE *fp = fopen(out.c_str(), "wb");
    ASSERT_NE(fp, nullptr);
    const int64_t len = 4 * CHUNK + 100;
    EXPECT_EQ(read_raw(dev.c_str(), 1000, len, fp, len, out.c_str(), "root", 1, 1), 0);
    ASSERT_EQ(fclose(fp), 0);
    EXPECT_EQ(mmc_release(), 0);
    CmdResult r = run("cmp -n " + std::to_string(len) + " -i 1000:0 " + shq(dev) + " " + shq(out));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(fileBytes(out).size(), static_cast<size_t>(len));
    EXPECT_EQ(m_progress.back().percent, 100);
}

TEST_F(CopyTest, BackupOfRangePastDeviceEndFails)
{
    const std::string dev = file("disk.img");
    writeFile(dev, std::string(3 * CHUNK, 'x'));
    ASSERT_GE(mmc_open(dev.c_str()), 0);
    const std::string out = file("backup.raw");
    FILE *fp = fopen(out.c_str(), "wb");
    ASSERT_NE(fp, nullptr);
    EXPECT_EQ(read_raw(dev.c_str(), 0, 5 * CHUNK, fp, 5 * CHUNK, "b", "root", 1, 1), -1);
    fclose(fp);
    // Only whole chunks that could be read are in the file.
    EXPECT_EQ(fileBytes(out).size(), static_cast<size_t>(3 * CHUNK));
}
