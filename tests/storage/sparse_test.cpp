// Android sparse images: real ext4 images made by mkfs.ext4 -d and
// img2simg, checked against simg2img and e2fsck; hand-built images for the
// chunk kinds and every way a chunk can be broken.
#include "storage/imagewriter.h"
#include "storage_fixture.h"

#include <cstring>

using namespace testsupport;

namespace {
constexpr int64_t BLK = 4096;
constexpr int64_t PART_OFFSET = 1 << 20;

// Builds a sparse image chunk by chunk.
class SparseBuilder
{
public:
    explicit SparseBuilder(uint32_t blockSize = 4096) : m_blk(blockSize) {}
    SparseBuilder &raw(const std::vector<uint8_t> &data)
    {
        chunk(CHUNK_TYPE_RAW, uint32_t(data.size() / m_blk), uint32_t(12 + data.size()));
        m_body.insert(m_body.end(), data.begin(), data.end());
        return *this;
    }
    SparseBuilder &fill(uint32_t blocks, uint32_t word)
    {
        chunk(CHUNK_TYPE_FILL, blocks, 16);
        append(&word, 4);
        return *this;
    }
    SparseBuilder &skip(uint32_t blocks)
    {
        chunk(CHUNK_TYPE_DONT_CARE, blocks, 12);
        return *this;
    }
    SparseBuilder &crc(bool withValue)
    {
        chunk(CHUNK_TYPE_CRC32, 0, withValue ? 16 : 12);
        if (withValue) {
            const uint32_t v = 0x12345678;
            append(&v, 4);
        }
        return *this;
    }
    // Any header, for broken chunks.
    SparseBuilder &chunk(uint16_t type, uint32_t blocks, uint32_t total)
    {
        const chunk_header_t h{type, 0, blocks, total};
        append(&h, sizeof h);
        m_blocks += blocks;
        ++m_chunks;
        m_offsets.push_back(m_body.size());
        return *this;
    }
    std::string bytes(int64_t totalBlocks = -1) const
    {
        sparse_header_t h{SPARSE_HEADER_MAGIC, 1, 0, 28, 12, m_blk,
                          uint32_t(totalBlocks < 0 ? m_blocks : totalBlocks), m_chunks, 0};
        std::string s(reinterpret_cast<const char *>(&h), sizeof h);
        s.append(m_body.begin(), m_body.end());
        return s;
    }
    // File offsets at which chunk headers end (for truncation).
    std::vector<size_t> boundaries() const
    {
        std::vector<size_t> v;
        for (size_t o : m_offsets)
            v.push_back(28 + o);
        return v;
    }

private:
    void append(const void *p, size_t n)
    {
        const uint8_t *b = static_cast<const uint8_t *>(p);
        m_body.insert(m_body.end(), b, b + n);
    }
    uint32_t m_blk;
    uint64_t m_blocks = 0;
    uint32_t m_chunks = 0;
    std::vector<uint8_t> m_body;
    std::vector<size_t> m_offsets;
};

class SparseTest : public StorageTest
{
protected:
    // Writes `image` into a partition of `partSize` bytes at PART_OFFSET of
    // a target prefilled with a pattern outside the partition.
    int writeImage(const std::string &image, int64_t partSize, int64_t targetSize = -1)
    {
        m_tgt = file("target.img");
        m_tgtSize = targetSize < 0 ? partSize + 2 * PART_OFFSET : targetSize;
        makeSparseFile(m_tgt, m_tgtSize);
        writeBytes(m_tgt, 0, patternBytes(PART_OFFSET, 1));
        writeBytes(m_tgt, PART_OFFSET + partSize, patternBytes(PART_OFFSET, 2));
        if (mmc_open(m_tgt.c_str()) < 0)
            return -100;
        FILE *fp = openRead(image);
        const int ret = write_image(m_tgt.c_str(), PART_OFFSET, partSize, fp, int64_t(fileBytes(image).size()),
                                    "img", "root", 1, 1);
        EXPECT_EQ(mmc_release(), 0);
        return ret;
    }
    void expectSurroundingsKept(int64_t partSize)
    {
        EXPECT_EQ(readBytes(m_tgt, 0, PART_OFFSET), patternBytes(PART_OFFSET, 1));
        EXPECT_EQ(readBytes(m_tgt, PART_OFFSET + partSize, PART_OFFSET), patternBytes(PART_OFFSET, 2));
    }
    std::string put(const std::string &name, const std::string &bytes)
    {
        writeFile(file(name), bytes);
        return file(name);
    }
    std::string m_tgt;
    int64_t m_tgtSize = 0;
};
} // namespace

TEST_F(SparseTest, RealExt4ImageEqualsSimg2imgAndPassesFsck)
{
    for (const char *tool : {"mkfs.ext4", "img2simg", "simg2img", "e2fsck"})
        if (!haveTool(tool))
            GTEST_SKIP() << tool << " missing";
    const std::string tree = file("tree");
    ASSERT_EQ(run("mkdir -p " + shq(tree + "/etc/sub") + " && head -c 3000000 /dev/urandom > " + shq(tree + "/big") +
                  " && echo hello > " + shq(tree + "/etc/hostname") + " && head -c 70000 /dev/zero > " +
                  shq(tree + "/etc/sub/zeros"))
                  .status,
              0);
    const std::string raw = file("fs.raw");
    const int64_t fsSize = 24 << 20;
    CmdResult mk = run("mkfs.ext4 -q -F -d " + shq(tree) + " " + shq(raw) + " 24M");
    ASSERT_EQ(mk.status, 0) << mk.err;
    const std::string simg = file("fs.simg");
    ASSERT_EQ(run("img2simg " + shq(raw) + " " + shq(simg)).status, 0);
    ASSERT_EQ(run("simg2img " + shq(simg) + " " + shq(file("ref.raw"))).status, 0);

    const int64_t partSize = 32 << 20;
    ASSERT_EQ(writeImage(simg, partSize), 0);
    CmdResult c = run("cmp -n " + std::to_string(fsSize) + " -i 0:" + std::to_string(PART_OFFSET) + " " +
                      shq(file("ref.raw")) + " " + shq(m_tgt));
    EXPECT_EQ(c.status, 0) << c.out;
    expectSurroundingsKept(partSize);
    ASSERT_EQ(run("dd if=" + shq(m_tgt) + " of=" + shq(file("part.raw")) + " bs=1M skip=1 count=24 status=none").status,
              0);
    CmdResult fsck = run("e2fsck -fn " + shq(file("part.raw")));
    EXPECT_EQ(fsck.status, 0) << fsck.out << fsck.err;
    EXPECT_EQ(percents(m_progress).back(), 100);
}

TEST_F(SparseTest, ChunkKindsAsSimg2imgExpandsThem)
{
    if (!haveTool("simg2img"))
        GTEST_SKIP() << "simg2img missing";
    const std::vector<uint8_t> a = patternBytes(3 * BLK, 5), b = patternBytes(BLK, 6);
    SparseBuilder sb;
    sb.raw(a).fill(10, 0xA5A5F00D).skip(3).crc(true).raw(b).fill(1, 0).raw(a);
    const std::string img = put("kinds.simg", sb.bytes());
    const int64_t outSize = (3 + 10 + 3 + 1 + 1 + 3) * BLK;
    // Prefill the partition: the don't-care blocks must keep these bytes.
    const int64_t partSize = 1 << 20;
    ASSERT_EQ(writeImage(img, partSize), 0) << log();
    ASSERT_EQ(run("simg2img " + shq(img) + " " + shq(file("ref.raw"))).status, 0);
    const std::vector<uint8_t> ref = fileBytes(file("ref.raw"));
    ASSERT_EQ(ref.size(), size_t(outSize));
    const std::vector<uint8_t> got = readBytes(m_tgt, PART_OFFSET, outSize);
    EXPECT_EQ(std::vector<uint8_t>(got.begin(), got.begin() + 13 * BLK),
              std::vector<uint8_t>(ref.begin(), ref.begin() + 13 * BLK));
    EXPECT_EQ(std::vector<uint8_t>(got.begin() + 16 * BLK, got.end()),
              std::vector<uint8_t>(ref.begin() + 16 * BLK, ref.end()));
    // The 40 KiB fill, word by word.
    for (int64_t i = 3 * BLK; i < 13 * BLK; i += 4) {
        uint32_t w;
        memcpy(&w, &got[i], 4);
        ASSERT_EQ(w, 0xA5A5F00Du) << i;
    }
    expectSurroundingsKept(partSize);
}

TEST_F(SparseTest, DontCareRegionsKeepWhatTheDeviceHeld)
{
    SparseBuilder sb;
    const std::vector<uint8_t> a = patternBytes(BLK, 8);
    sb.raw(a).skip(4).crc(false).raw(a).fill(2, 0);
    const std::string img = put("skip.simg", sb.bytes());
    m_tgt = file("target.img");
    const std::vector<uint8_t> old = patternBytes(8 * BLK, 77);
    writeFile(m_tgt, std::string(old.begin(), old.end()));
    ASSERT_GE(mmc_open(m_tgt.c_str()), 0);
    ASSERT_EQ(write_image(m_tgt.c_str(), 0, 8 * BLK, openRead(img), int64_t(fileBytes(img).size()), "i", "p", 1, 1), 0);
    ASSERT_EQ(mmc_release(), 0);
    EXPECT_EQ(readBytes(m_tgt, 0, BLK), a);
    EXPECT_EQ(readBytes(m_tgt, BLK, 4 * BLK), std::vector<uint8_t>(old.begin() + BLK, old.begin() + 5 * BLK));
    EXPECT_EQ(readBytes(m_tgt, 5 * BLK, BLK), a);
    // A zero fill replaces what was there.
    EXPECT_TRUE(allZero(m_tgt, 6 * BLK, 2 * BLK));
}

TEST_F(SparseTest, DontCareBeyondFourGiBMovesTheFull64BitLength)
{
    // 0x110000 blocks = 4.25 GiB of don't-care, then data: the data lands
    // past 4 GiB (on a sparse target file).
    const std::vector<uint8_t> tail = patternBytes(2 * BLK, 9);
    SparseBuilder sb;
    sb.skip(0x110000).raw(tail);
    const std::string img = put("big.simg", sb.bytes());
    const int64_t partSize = (0x110000 + 2) * BLK;
    ASSERT_EQ(writeImage(img, partSize, PART_OFFSET + partSize + PART_OFFSET), 0);
    EXPECT_EQ(readBytes(m_tgt, PART_OFFSET + 0x110000 * BLK, 2 * BLK), tail);
    EXPECT_TRUE(allZero(m_tgt, PART_OFFSET, 1 << 20));
    expectSurroundingsKept(partSize);
}

TEST_F(SparseTest, OtherBlockSizeIsWrittenRawHeaderIncluded)
{
    SparseBuilder sb(1024);
    sb.raw(patternBytes(3 * 1024, 3)).fill(4, 7);
    const std::string img = put("k1.simg", sb.bytes());
    ASSERT_EQ(writeImage(img, 1 << 20), 0);
    const size_t n = fileBytes(img).size();
    EXPECT_EQ(run("cmp -n " + std::to_string(n) + " -i 0:" + std::to_string(PART_OFFSET) + " " + shq(img) + " " +
                  shq(m_tgt))
                  .status,
              0);
    expectSurroundingsKept(1 << 20);
}

TEST_F(SparseTest, ImageBiggerThanPartitionIsRefused)
{
    SparseBuilder sb;
    sb.raw(patternBytes(BLK, 1)).skip(300);
    const std::string img = put("big.simg", sb.bytes());
    EXPECT_EQ(writeImage(img, 300 * BLK), -ENOMEM);
    EXPECT_TRUE(allZero(m_tgt, PART_OFFSET, 300 * BLK));
    expectSurroundingsKept(300 * BLK);
    EXPECT_NE(log().find("it is bigger than partition"), std::string::npos);
}

TEST_F(SparseTest, TruncatedImagesFailWithNothingWritten)
{
    SparseBuilder sb;
    sb.raw(patternBytes(2 * BLK, 1)).fill(3, 0x01010101).skip(2).crc(true).raw(patternBytes(BLK, 2)).crc(false);
    const std::string good = sb.bytes();
    std::vector<size_t> cuts = sb.boundaries();
    for (size_t b : sb.boundaries()) {
        cuts.push_back(b - 12);   // right before a chunk header
        cuts.push_back(b - 5);    // inside a chunk header
        cuts.push_back(b + 2);    // inside the data that follows
    }
    cuts.push_back(good.size() - 1);
    cuts.push_back(20);
    for (size_t cut : cuts) {
        if (cut >= good.size() || cut < 28)
            continue;
        SCOPED_TRACE(cut);
        const std::string img = put("cut.simg", good.substr(0, cut));
        EXPECT_LT(writeImage(img, 64 * BLK), 0);
        EXPECT_TRUE(allZero(m_tgt, PART_OFFSET, 64 * BLK));
        expectSurroundingsKept(64 * BLK);
    }
    EXPECT_EQ(writeImage(put("tiny.simg", good.substr(0, 20)), 64 * BLK), -ENOENT);
}

TEST_F(SparseTest, BrokenChunksFailWithNothingWritten)
{
    const std::vector<uint8_t> blk = patternBytes(BLK, 4);
    struct Case
    {
        const char *what;
        std::string bytes;
    };
    std::vector<Case> cases;
    {
        SparseBuilder sb;
        sb.raw(blk).skip(10).raw(blk);
        cases.push_back({"chunks run past the total", sb.bytes(5)});
    }
    {
        SparseBuilder sb;
        sb.raw(blk).chunk(CHUNK_TYPE_FILL, 0xFFFFFFFF, 16);
        std::string s = sb.bytes(4);
        s += std::string(4, '\0');
        cases.push_back({"fill length overflowing 32 bits", s});
    }
    {
        SparseBuilder sb;
        sb.raw(blk).chunk(CHUNK_TYPE_RAW, 1, 12 + 100);
        cases.push_back({"raw size mismatch", sb.bytes() + std::string(BLK, 'x')});
    }
    {
        SparseBuilder sb;
        sb.raw(blk).chunk(0xCAC9, 1, 12);
        cases.push_back({"unknown chunk type", sb.bytes()});
    }
    {
        SparseBuilder sb;
        sb.raw(blk).chunk(CHUNK_TYPE_CRC32, 0, 20);
        cases.push_back({"crc32 chunk of 8 bytes", sb.bytes() + std::string(8, '\0')});
    }
    {
        SparseBuilder sb;
        sb.raw(blk).chunk(CHUNK_TYPE_FILL, 1, 12);
        cases.push_back({"fill without word", sb.bytes()});
    }
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_LT(writeImage(put("bad.simg", c.bytes), 64 * BLK), 0);
        EXPECT_TRUE(allZero(m_tgt, PART_OFFSET, 64 * BLK));
        expectSurroundingsKept(64 * BLK);
    }
}
