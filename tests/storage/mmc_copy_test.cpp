// Streamed copy between image files and a target (regular file standing in
// for the device), checked with cmp against the source bytes.
#include "storage_fixture.h"

#include <algorithm>

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
        m_src = put("src.img", patternBytes(size, 7));
        m_fill = patternBytes(size + OFFSET + 3 * CHUNK, 99);
        m_tgt = put("target.img", m_fill);
        if (mmc_open(m_tgt.c_str()) < 0)
            return -100;
        const int ret = write_raw(m_tgt.c_str(), OFFSET, size, openRead(m_src), announced < 0 ? size : announced,
                                  "src.img", "rootfs", 4, 2);
        EXPECT_EQ(mmc_release(), 0);
        return ret;
    }
    // cmp of the first `copied` bytes against the source; the target's own
    // pattern before OFFSET and after the copied range.
    void expectCopied(int64_t copied)
    {
        if (copied)
            EXPECT_EQ(cmpAt(m_src, 0, m_tgt, OFFSET, copied), "");
        const std::vector<uint8_t> got = readBytes(m_tgt, 0, m_fill.size());
        EXPECT_TRUE(std::equal(got.begin(), got.begin() + OFFSET, m_fill.begin()));
        EXPECT_TRUE(std::equal(got.begin() + OFFSET + copied, got.end(), m_fill.begin() + OFFSET + copied));
    }
    std::string m_src, m_tgt;
    std::vector<uint8_t> m_fill;
};
} // namespace

// Odd chunk sizes of the other writers are in pipeline_test.cpp; an empty
// file reports 100 at once.
TEST_F(CopyTest, SizesAroundChunkBoundariesCopyExactly)
{
    for (int64_t size : {CHUNK, 3 * CHUNK, CHUNK - 1, CHUNK + 1, int64_t(1000), 3 * CHUNK + 5, int64_t(0)}) {
        SCOPED_TRACE(size);
        m_progress.clear();
        m_speed.clear();
        ASSERT_EQ(copyToTarget(size), 0);
        expectCopied(size);
        ASSERT_FALSE(m_progress.empty() || m_speed.empty());
        EXPECT_EQ(m_progress.back().percent, 100);
        EXPECT_EQ(m_speed.back().done, size);
    }
    EXPECT_EQ(percents(m_progress), std::vector<int>{100});
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
    for (const ProgressCall &c : m_progress)
        EXPECT_TRUE(!c.erasing && c.image == "src.img" && c.partition == "rootfs" && c.count == 4 && c.index == 2);
    ASSERT_GE(m_speed.size(), m_progress.size());
    for (size_t i = 1; i < m_speed.size(); ++i) {
        EXPECT_GE(m_speed[i].done, m_speed[i - 1].done);
        EXPECT_GE(m_speed[i].ms, m_speed[i - 1].ms);
        EXPECT_EQ(m_speed[i].total, size);
    }
    EXPECT_EQ(m_speed.back().done, size);
}

TEST_F(CopyTest, FileShorterThanAnnouncedFailsAndWritesNothingPastIt)
{
    // 2.5 chunks exist, 4 are announced: chunks 0 and 1 are written, the
    // third read comes back short and nothing is written from there on.
    EXPECT_EQ(copyToTarget(2 * CHUNK + CHUNK / 2, 4 * CHUNK), -1);
    EXPECT_NE(log().find("stream_read failed"), std::string::npos) << log();
    expectCopied(2 * CHUNK);
    for (int p : percents(m_progress))
        EXPECT_LT(p, 100);
}

TEST_F(CopyTest, BackupCopiesDeviceRangeAndFailsPastTheEnd)
{
    const std::string dev = put("disk.img", patternBytes(5 * CHUNK + 123, 3)), out = file("backup.raw");
    // A range at an odd offset, then one running past the device's end: only
    // the whole chunks that could be read are in the file.
    for (int64_t at : {int64_t(1000), int64_t(CHUNK + 123)}) {
        SCOPED_TRACE(at);
        const int64_t len = 4 * CHUNK + 100;
        m_progress.clear();
        ASSERT_GE(mmc_open(dev.c_str()), 0);
        FILE *fp = fopen(out.c_str(), "wb");
        ASSERT_NE(fp, nullptr);
        EXPECT_EQ(read_raw(dev.c_str(), at, len, fp, len, out.c_str(), "root", 1, 1), at == 1000 ? 0 : -1);
        ASSERT_EQ(fclose(fp), 0);
        EXPECT_EQ(mmc_release(), 0);
        const int64_t want = at == 1000 ? len : 4 * CHUNK;
        EXPECT_EQ(cmpAt(dev, at, out, 0, want), "");
        EXPECT_EQ(fileSize(out), want);
        if (at == 1000)
            EXPECT_EQ(m_progress.back().percent, 100);
    }
}
