// Android sparse images, hand-built for the chunk kinds and every way a
// chunk can be broken; real ext4 images (mkfs.ext4 -d, img2simg) are
// installed end to end and judged by simg2img and e2fsck in tests/e2e.
#include "sparse_builder.h"
#include "storage_fixture.h"

using namespace testsupport;

namespace {
constexpr int64_t BLK = 4096;
constexpr int64_t PART_OFFSET = 1 << 20;

class SparseTest : public StorageTest
{
protected:
    // Writes `image` into a partition of `partSize` bytes at PART_OFFSET of
    // a target prefilled with a pattern outside the partition (and inside
    // it too when `prefill`).
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
    void expectRefused(const std::string &bytes, int64_t partSize)
    {
        EXPECT_LT(writeImage(put("bad.simg", bytes), partSize), 0);
        EXPECT_TRUE(zeroAt(m_tgt, PART_OFFSET, partSize));
        expectSurroundingsKept(partSize);
    }
    std::string m_tgt;
};
} // namespace

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
    // Blocks 13-15 are don't-care: they keep what the device held; the zero
    // fill at block 17 replaces it.
    EXPECT_EQ(cmpAt(file("ref.raw"), 0, m_tgt, PART_OFFSET, 13 * BLK), "");
    EXPECT_EQ(readBytes(m_tgt, PART_OFFSET + 13 * BLK, 3 * BLK),
              std::vector<uint8_t>(old.begin() + 13 * BLK, old.begin() + 16 * BLK));
    EXPECT_EQ(cmpAt(file("ref.raw"), 16 * BLK, m_tgt, PART_OFFSET + 16 * BLK, 5 * BLK), "");
    expectSurroundingsKept(32 * BLK);
}

TEST_F(SparseTest, DontCareBeyondFourGiBOtherBlockSizeAndImageTooBig)
{
    // 0x110000 blocks = 4.25 GiB of don't-care, then data: the data lands
    // past 4 GiB (on a sparse target file).
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
    EXPECT_EQ(writeImage(put("big.simg", SparseBuilder().raw(patternBytes(BLK, 1)).skip(300).bytes()), 300 * BLK),
              -ENOMEM);
    EXPECT_TRUE(zeroAt(m_tgt, PART_OFFSET, 300 * BLK));
    expectSurroundingsKept(300 * BLK);
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
    EXPECT_EQ(writeImage(put("tiny.simg", good.substr(0, 20)), 64 * BLK), -ENOENT);
}
