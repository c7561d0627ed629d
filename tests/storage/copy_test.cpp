// Streamed copies onto a file standing in for the device, checked with cmp:
// chunk boundaries, progress, failures on either side, cancels, back-ups,
// read-back; hand-built sparse images (real ext4 ones: tests/e2e).
#include "sparse_builder.h"
#include "storage/backup_manifest.h"
#include "storage/rkparm.h"
#include "storage/write_verify.h"
#include "storage_fixture.h"

#include <algorithm>
#include <unistd.h>

using namespace testsupport;

namespace {
constexpr int64_t CHUNK = 64 * 1024;
constexpr int64_t OFFSET = 3 * 4096 + 512;   // not chunk aligned on purpose

// Whole zero MiBs between data, as file system images have.
std::vector<uint8_t> zeroRunData()
{
    std::vector<uint8_t> d = patternBytes(9 * (1 << 20) + 5000, 44);
    std::fill(d.begin() + (1 << 20), d.begin() + 4 * (1 << 20), 0);
    std::fill(d.begin() + 5 * (1 << 20) + 100, d.begin() + 7 * (1 << 20), 0);
    std::fill(d.begin() + 8 * (1 << 20), d.end(), 0);
    return d;
}

// xxhsum's XXH3-64 of a file, as the digest's value.
uint64_t xxh3Of(const std::string &path)
{
    const testsupport::CmdResult r = run("xxhsum -H3 " + shq(path));
    return r.status == 0 ? std::stoull(r.out.substr(r.out.rfind('=') + 2, 16), nullptr, 16) : 0;
}

class CopyTest : public StorageTest
{
protected:
    // `size` bytes copied at OFFSET of a patterned target; write_raw's result.
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
    // The first `copied` bytes are the source's, the rest the target's own.
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

constexpr int64_t BLK = 4096;
constexpr int64_t PART_OFFSET = 1 << 20;

class SparseTest : public StorageTest
{
protected:
    // `image` into a partition at PART_OFFSET; patterned around it (and
    // inside when `prefill`).
    int writeImage(const std::string &image, int64_t partSize, int64_t targetSize = -1, bool prefill = false)
    {
        m_tgt = makeTarget("target.img", targetSize < 0 ? partSize + 2 * PART_OFFSET : targetSize);
        writeBytes(m_tgt, 0, patternBytes(PART_OFFSET, 1));
        writeBytes(m_tgt, PART_OFFSET + partSize, patternBytes(PART_OFFSET, 2));
        if (prefill)
            writeBytes(m_tgt, PART_OFFSET, patternBytes(partSize, 77));
        if (mmc_open(m_tgt.c_str()) < 0)
            return -100;
        const int ret = write_image(m_tgt.c_str(), PART_OFFSET, partSize, openRead(image), fileSize(image), "img",
                                    "root", 1, 1);
        EXPECT_EQ(mmc_release(), 0);
        return ret;
    }
    void expectSurroundingsKept(int64_t partSize)
    {
        EXPECT_EQ(readBytes(m_tgt, 0, PART_OFFSET), patternBytes(PART_OFFSET, 1));
        EXPECT_EQ(readBytes(m_tgt, PART_OFFSET + partSize, PART_OFFSET), patternBytes(PART_OFFSET, 2));
    }
    // A rejected image: nothing written anywhere.
    int expectRefused(const std::string &bytes, int64_t partSize)
    {
        const int rc = writeImage(put("bad.simg", bytes), partSize);
        EXPECT_LT(rc, 0);
        EXPECT_TRUE(zeroAt(m_tgt, PART_OFFSET, partSize));
        expectSurroundingsKept(partSize);
        return rc;
    }
    std::string m_tgt;
};
} // namespace

TEST_F(CopyTest, SizesAroundChunkBoundariesCopyExactlyWithProgressOnceEach)
{
    // 251 chunks report percent at most 100 times; an empty file 100 at once.
    for (int64_t size : {CHUNK, 3 * CHUNK, CHUNK - 1, CHUNK + 1, int64_t(1000), 3 * CHUNK + 5, int64_t(0),
                         250 * CHUNK + 77}) {
        SCOPED_TRACE(size);
        m_progress.clear();
        m_speed.clear();
        ASSERT_EQ(copyToTarget(size), 0);
        expectCopied(size);
        const std::vector<int> p = percents(m_progress);
        ASSERT_FALSE(p.empty() || m_speed.empty());
        EXPECT_EQ(p.back(), 100);
        EXPECT_EQ(std::adjacent_find(p.begin(), p.end(), std::greater_equal<int>()), p.end());
        EXPECT_LE(p.size(), 101u);
        EXPECT_GE(p.size(), size > 100 * CHUNK ? 90u : 1u);
        if (size == 0)
            EXPECT_EQ(p, std::vector<int>{100});
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
}

TEST_F(CopyTest, FileShorterThanAnnouncedFailsAndWritesNothingPastIt)
{
    // 2.5 chunks of 4 announced: the short third read writes nothing.
    EXPECT_EQ(copyToTarget(2 * CHUNK + CHUNK / 2, 4 * CHUNK), -1);
    EXPECT_NE(log().find("stream_read failed"), std::string::npos) << log();
    expectCopied(2 * CHUNK);
    for (int p : percents(m_progress))
        EXPECT_LT(p, 100);
}

TEST_F(StorageTest, BackupCopiesDeviceRangeAndFailsPastTheEnd)
{
    const std::vector<uint8_t> d = zeroRunData();
    const int64_t D = int64_t(d.size()), MiB = 1 << 20;
    const std::string disk = put("disk.img", d), out = file("backup.raw");
    const struct
    {
        int bufferSize;
        int64_t at, len;
        bool existing;   // into a file that already holds data: the zeros are written
        int rc;
        int64_t want;
    } cases[] = {
        {4 * MiB, 0, 9 * MiB, false, 0, 9 * MiB},   // whole MiBs ending in a zero MiB
        {4 * MiB, 0, D, false, 0, D},               // the odd size, with a short tail
        {4 * MiB, 0, D, true, 0, D},
        {4 * CHUNK, 1000, 4 * CHUNK + 100, false, 0, 4 * CHUNK + 100},
        // Past the device's end: only the whole chunks read are in the file.
        {4 * CHUNK, 7 * MiB + 5000, 2 * MiB + 100, false, -1, 2 * MiB},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.at) + " " + std::to_string(c.len));
        BUFFER_SIZE = c.bufferSize;
        m_progress.clear();
        if (c.existing)
            put("backup.raw", patternBytes(size_t(c.len), 3));
        ASSERT_GE(mmc_open(disk.c_str()), 0);
        FILE *fp = fopen(out.c_str(), c.existing ? "r+b" : "wb");
        ASSERT_NE(fp, nullptr);
        // The back-up job's manifest digest is fed chunk by chunk from
        // another thread while each chunk is stored: it must still see the
        // chunks whole and in order.
        sha256_digest digest;
        stream_set_read_tap([&digest](const uint8_t *data, size_t length) { digest.update(data, length); });
        EXPECT_EQ(read_raw(disk.c_str(), c.at, c.len, fp, c.len, "b", "root", 1, 1), c.rc);
        stream_set_read_tap(nullptr);
        if (c.rc == 0)
            EXPECT_EQ(ftello(fp), c.len);
        ASSERT_EQ(fclose(fp), 0);
        EXPECT_EQ(mmc_release(), 0);
        EXPECT_EQ(fileSize(out), c.want);
        EXPECT_EQ(cmpAt(disk, c.at, out, 0, c.want), "");
        if (c.rc == 0)
            EXPECT_EQ(digest.hex(), sha256(out));
        ASSERT_FALSE(m_progress.empty());
        EXPECT_EQ(m_progress.back().percent == 100, c.rc == 0);
        unlink(out.c_str());
    }
}

TEST_F(StorageTest, ShortWriteUnusableChunkSizeAndCancelStopTheCopy)
{
    // A full card (file size limit) takes part of a write: the copy fails.
    const std::string src = put("src.img", patternBytes(40 * CHUNK, 21));
    const std::string full = makeTarget("full.img", 0);
    FILE *fp = openRead(src);
    ASSERT_GE(mmc_open(full.c_str()), 0);
    int ret;
    {
        FileSizeLimit limit(5 * CHUNK / 2);
        ret = write_raw(full.c_str(), 0, 0, fp, 40 * CHUNK, "s", "p", 1, 1);
    }
    EXPECT_EQ(ret, -1);
    EXPECT_EQ(mmc_release(), 0);
    // The reader is at most the slots ahead of the failed chunk.
    EXPECT_LE(ftello(fp), 2 * CHUNK + BUFFER_SIZE);
    EXPECT_NE(log().find("mmc_write failed"), std::string::npos);
    for (int p : percents(m_progress))
        EXPECT_LT(p, 100);

    // A chunk size the copy cannot use fails cleanly, writing nothing.
    const std::string tgt = makeTarget("target.img", 40 * CHUNK);
    BUFFER_SIZE = 0;
    ASSERT_GE(mmc_open(tgt.c_str()), 0);
    EXPECT_LT(write_raw(tgt.c_str(), 0, 0, openRead(src), 1000, "s", "p", 1, 1), 0);
    EXPECT_TRUE(zeroAt(tgt, 0, 4096));

    // Sparse and gzip cancelled before the start or at a report (raw:
    // direct_io_test.cpp): nothing after the reported chunk.
    BUFFER_SIZE = 4 * CHUNK;
    std::atomic<bool> cancel{true};
    stream_set_cancel_flag(&cancel);
    const std::string simg = put("s.simg", SparseBuilder().fill(1, 0x01010101).bytes());
    EXPECT_EQ(write_image(tgt.c_str(), 0, CHUNK, openRead(simg), fileSize(simg), "s", "p", 1, 1), MMC_COPY_CANCELLED);
    ASSERT_EQ(run("gzip -kf " + shq(src)).status, 0);
    cancel = false;
    gui_setup_progress_report_function(
        "test", [&](bool, const std::string &, const std::string &, int, int, int) { cancel = true; }, nullptr);
    EXPECT_EQ(write_raw_gz(tgt.c_str(), 0, 0, openRead(src + ".gz"), fileSize(src + ".gz"), "g", "p", 1, 1),
              MMC_COPY_CANCELLED);
    EXPECT_TRUE(zeroAt(tgt, 2 * CHUNK, 38 * CHUNK));
    EXPECT_EQ(mmc_release(), 0);
    stream_set_cancel_flag(nullptr);
}

TEST_F(StorageTest, OddChunkSizesStayByteExact)
{
    if (!haveTool("simg2img") || !haveTool("gzip") || !haveTool("xxhsum"))
        GTEST_SKIP() << "simg2img, gzip or xxhsum missing";
    // Raw, gzip and sparse through chunk sizes that divide nothing.
    const std::vector<uint8_t> a = patternBytes(5 * 4096, 31);
    const std::string simg = put("x.simg", SparseBuilder()
                                               .raw(a)
                                               .fill(7, 0xEFBEADDE)
                                               .raw({a.begin(), a.begin() + 8192})
                                               .fill(1, 0)
                                               .raw({a.begin() + 4096, a.begin() + 4 * 4096})
                                               .bytes());
    ASSERT_EQ(run("simg2img " + shq(simg) + " " + shq(file("x.ref"))).status, 0);
    const std::string src = put("src.img", patternBytes(300001, 21)), gz = src + ".gz";
    ASSERT_EQ(run("gzip -kf " + shq(src)).status, 0);
    // Read back: the writer's hash is xxhsum's of the source.
    stream_set_verify(true);
    auto verified = [&](const std::string &tgt, const std::string &ref) {
        EXPECT_EQ(write_verify_readback(tgt.c_str(), nullptr, nullptr), 0);
        EXPECT_EQ(stream_written_summary().hash, xxh3Of(ref));
    };

    for (int bs : {4096, 5000, 12289, 65536, 1 << 20}) {
        SCOPED_TRACE(bs);
        BUFFER_SIZE = bs;
        m_progress.clear();
        const std::string tgt = makeTarget("target.img", 1 << 20);
        ASSERT_GE(mmc_open(tgt.c_str()), 0);
        ASSERT_EQ(write_image(tgt.c_str(), 0, 1 << 20, openRead(simg), fileSize(simg), "x", "p", 1, 1), 0);
        EXPECT_EQ(cmpAt(file("x.ref"), 0, tgt, 0, 18 * 4096), "");
        verified(tgt, file("x.ref"));
        ASSERT_EQ(write_raw(tgt.c_str(), 4096, 0, openRead(src), 300001, "r", "p", 1, 1), 0);
        EXPECT_EQ(cmpAt(src, 0, tgt, 4096, 300001), "");
        verified(tgt, src);
        ASSERT_EQ(write_raw_gz(tgt.c_str(), 8192, 0, openRead(gz), fileSize(gz), "g", "p", 1, 1), 0);
        EXPECT_EQ(cmpAt(src, 0, tgt, 8192, 300001), "");
        verified(tgt, src);
        EXPECT_EQ(mmc_release(), 0);
        ASSERT_FALSE(m_progress.empty());
        EXPECT_EQ(m_progress.back().percent, 100);
    }
}

TEST_F(StorageTest, ReadBackNamesTheFirstDifferingMiB)
{
    // A byte changed after the flush in data, a zeroed fill, a pattern fill
    // and a don't-care gap (not the image's: unreported). Named: the MiB of
    // the differing piece, or the end of a gap.
    BUFFER_SIZE = 1 << 20;
    const int64_t MiB = 1 << 20, odd = 3 * 4096 + 512, even = 3 * 4096;
    const std::vector<uint8_t> d = patternBytes(2 * MiB, 5);
    const std::string raw = put("r.img", patternBytes(5 * MiB + 777, 6));
    const std::string simg = put("s.simg", SparseBuilder().raw(d).fill(512, 0).fill(256, 0x01020304).skip(512).raw(d).bytes());
    const std::string idb = put("idb.img", patternBytes(200000, 8));
    struct Case
    {
        std::string image;
        int64_t base, flip;   // image offset on the device, changed byte from there
        int64_t expected;     // -1: no difference
        decltype(&write_image) writer = write_image;
    };
    const Case cases[] = {
        {raw, odd, 3 * MiB + 100, 3 * MiB},
        {raw, odd, 5 * MiB + 776, 5 * MiB},
        {raw, odd, -1, -1},
        {simg, even, 2 * MiB + 5, 2 * MiB},
        {simg, even, 4 * MiB + 4095, 4 * MiB},
        {simg, even, 5 * MiB + 17, -1},
        {simg, even, 7 * MiB + 9, 7 * MiB + even},
        {idb, MiB - 4096, 0x80000 + 199999, MiB, write_rk_idb},
    };
    stream_set_verify(true);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.image + " flip " + std::to_string(c.flip));
        const std::string tgt = makeTarget("target.img", 12 * MiB);
        write_verify_set_test_hook([&] { flipByte(tgt, c.base + c.flip); });
        ASSERT_GE(mmc_open(tgt.c_str()), 0);
        ASSERT_EQ(c.writer(tgt.c_str(), c.base, 9 * MiB, openRead(c.image), fileSize(c.image), "v", "p", 1, 1), 0);
        std::vector<int> pct;
        int64_t named = -1;
        const int rc = write_verify_readback(tgt.c_str(), [&](int p, int64_t, int64_t) { pct.push_back(p); }, &named);
        EXPECT_EQ(mmc_release(), 0);
        EXPECT_EQ(rc, c.expected < 0 ? 0 : WRITE_VERIFY_MISMATCH);
        EXPECT_EQ(named, c.expected);
        if (c.expected < 0)
            EXPECT_EQ(pct.back(), 100);
    }
}

TEST_F(SparseTest, ChunkKindsAsSimg2imgExpandsThemOverWhatTheDeviceHeld)
{
    if (!haveTool("simg2img"))
        GTEST_SKIP() << "simg2img missing";
    const std::vector<uint8_t> a = patternBytes(3 * BLK, 5), old = patternBytes(32 * BLK, 77);
    // simg2img wants the value of a CRC chunk; ours also takes one without.
    const auto kinds = [&](bool bareCrc) {
        SparseBuilder sb;
        sb.raw(a).fill(10, 0xA5A5F00D).skip(3).crc(true).raw(patternBytes(BLK, 6));
        if (bareCrc)
            sb.crc(false);
        return sb.fill(1, 0).raw(a).bytes();
    };
    ASSERT_EQ(writeImage(put("kinds.simg", kinds(true)), 32 * BLK, -1, true), 0) << log();
    ASSERT_EQ(run("simg2img " + shq(put("plain.simg", kinds(false))) + " " + shq(file("ref.raw"))).status, 0);
    ASSERT_EQ(fileSize(file("ref.raw")), 21 * BLK);
    // Don't-care blocks 13-15 keep the old bytes; the zero fill replaces them.
    EXPECT_EQ(cmpAt(file("ref.raw"), 0, m_tgt, PART_OFFSET, 13 * BLK), "");
    EXPECT_EQ(readBytes(m_tgt, PART_OFFSET + 13 * BLK, 3 * BLK),
              std::vector<uint8_t>(old.begin() + 13 * BLK, old.begin() + 16 * BLK));
    EXPECT_EQ(cmpAt(file("ref.raw"), 16 * BLK, m_tgt, PART_OFFSET + 16 * BLK, 5 * BLK), "");
    expectSurroundingsKept(32 * BLK);
}

TEST_F(SparseTest, DontCareBeyondFourGiBOtherBlockSizeAndImageTooBig)
{
    // 4.25 GiB of don't-care: the data lands past 4 GiB.
    const std::vector<uint8_t> tail = patternBytes(2 * BLK, 9);
    const int64_t partSize = (0x110000 + 2) * BLK;
    ASSERT_EQ(writeImage(put("big.simg", SparseBuilder().skip(0x110000).raw(tail).bytes()), partSize,
                         PART_OFFSET + partSize + PART_OFFSET),
              0);
    EXPECT_EQ(readBytes(m_tgt, PART_OFFSET + 0x110000 * BLK, 2 * BLK), tail);
    EXPECT_TRUE(zeroAt(m_tgt, PART_OFFSET, 1 << 20));
    expectSurroundingsKept(partSize);

    // Another block size: written raw, header included.
    const std::string img = put("k1.simg", SparseBuilder(1024).raw(patternBytes(3 * 1024, 3)).fill(4, 7).bytes());
    ASSERT_EQ(writeImage(img, 1 << 20), 0);
    EXPECT_EQ(cmpAt(img, 0, m_tgt, PART_OFFSET, fileSize(img)), "");
    expectSurroundingsKept(1 << 20);

    // Bigger than its partition: refused, nothing written.
    EXPECT_EQ(expectRefused(SparseBuilder().raw(patternBytes(BLK, 1)).skip(300).bytes(), 300 * BLK), -ENOMEM);
    EXPECT_NE(log().find("it is bigger than partition"), std::string::npos);
}

TEST_F(SparseTest, TruncatedImagesAndBrokenChunksFailWithNothingWritten)
{
    SparseBuilder sb;
    sb.raw(patternBytes(2 * BLK, 1)).fill(3, 0x01010101).skip(2).crc(true).raw(patternBytes(BLK, 2)).crc(false);
    const std::string good = sb.bytes();
    std::vector<std::pair<std::string, std::string>> cases;
    std::vector<size_t> cuts = {good.size() - 1};
    for (size_t b : sb.headerEnds)   // at, right before, inside and right after each chunk header
        cuts.insert(cuts.end(), {b, b - 12, b - 5, b + 2});
    for (size_t cut : cuts)
        if (cut < good.size() && cut >= 28)
            cases.push_back({"cut at " + std::to_string(cut), good.substr(0, cut)});
    const std::vector<uint8_t> blk = patternBytes(BLK, 4);
    auto after = [&](uint16_t type, uint32_t blocks, uint32_t total) {
        return SparseBuilder().raw(blk).chunk(type, blocks, total);
    };
    cases.insert(cases.end(), {
        {"chunks run past the total", after(CHUNK_TYPE_DONT_CARE, 10, 12).raw(blk).bytes(5)},
        {"fill length overflowing 32 bits", after(CHUNK_TYPE_FILL, 0xFFFFFFFF, 16).bytes(4) + std::string(4, '\0')},
        {"raw size mismatch", after(CHUNK_TYPE_RAW, 1, 12 + 100).bytes() + std::string(BLK, 'x')},
        {"unknown chunk type", after(0xCAC9, 1, 12).bytes()},
        {"crc32 chunk of 8 bytes", after(CHUNK_TYPE_CRC32, 0, 20).bytes() + std::string(8, '\0')},
        {"fill without word", after(CHUNK_TYPE_FILL, 1, 12).bytes()},
        {"fill of 8 bytes", after(CHUNK_TYPE_FILL, 1, 20).bytes() + std::string(8, '\0')},
    });
    for (const auto &c : cases) {
        SCOPED_TRACE(c.first);
        expectRefused(c.second, 64 * BLK);
    }
    EXPECT_EQ(expectRefused(good.substr(0, 20), 64 * BLK), -ENOENT);
}
