// gzip images: what we write must equal `gzip -dc` byte for byte, and every
// damaged stream must fail instead of passing as a short image. Other sizes,
// offsets and targets: direct_io_test.cpp and pipeline_test.cpp.
#include "storage/gz_inflate.h"
#include "storage/imagewriter.h"
#include "storage_fixture.h"

#include <fcntl.h>
#include <unistd.h>

using namespace testsupport;

namespace {
constexpr int64_t OFFSET = 1 << 20;

// Partly compressible data: runs of zeros between random stretches.
std::vector<uint8_t> imageData(size_t size, uint32_t seed)
{
    std::vector<uint8_t> v = patternBytes(size, seed);
    for (size_t i = 0; i < size; i += 65536)
        std::fill(v.begin() + i, v.begin() + std::min(size, i + 30000), 0);
    return v;
}

// Inflates all of `path` with the default reader (ISA-L where built) or the
// zlib fallback: 0 at a clean end, -1 on a damaged stream.
int inflateAll(bool zlib, const std::string &path, std::string *out)
{
    const int fd = ::open(path.c_str(), O_RDONLY);
    auto src = zlib ? storage_internal::gz_source_zlib(fd) : storage_internal::gz_source::open(fd);
    if (!src)
        return -2;
    std::vector<uint8_t> buf(70000);
    for (int64_t n; (n = src->read(buf.data(), buf.size())) != 0;) {
        if (n < 0)
            return -1;
        out->append(reinterpret_cast<char *>(buf.data()), size_t(n));
    }
    return 0;
}

class GzipTest : public StorageTest
{
protected:
    void SetUp() override
    {
        StorageTest::SetUp();
        if (!haveTool("gzip") || !haveTool("cmp"))
            GTEST_SKIP() << "gzip or cmp missing";
    }
    // Writes raw data to <name> and compresses it to <name>.gz.
    std::string makeGz(const std::string &name, const std::vector<uint8_t> &data)
    {
        EXPECT_EQ(run("gzip -kf -6 " + shq(put(name, data))).status, 0);
        return file(name + ".gz");
    }
    int writeGz(const std::string &gz, const std::string &target)
    {
        if (mmc_open(target.c_str()) < 0)
            return -100;
        const int ret = write_raw_gz(target.c_str(), OFFSET, 0, openRead(gz), fileSize(gz), "img.gz", "root", 1, 1);
        EXPECT_EQ(mmc_release(), 0);
        return ret;
    }
    // decompress_gz of `gz` into out.raw.
    int decompress(const std::string &gz)
    {
        FILE *out = fopen(file("out.raw").c_str(), "wb");
        EXPECT_NE(out, nullptr);
        const int ret = out ? decompress_gz(out, openRead(gz), fileSize(gz)) : -100;
        EXPECT_EQ(out ? fclose(out) : 0, 0);
        return ret;
    }
    // cmp of the target at OFFSET against gzip -dc of the same file.
    void expectEqualsGzipDc(const std::string &gz, const std::string &target)
    {
        const std::string ref = file("ref.raw");
        ASSERT_EQ(run("gzip -dc " + shq(gz) + " > " + shq(ref)).status, 0);
        const int64_t n = fileSize(ref);
        EXPECT_EQ(cmpAt(ref, 0, target, OFFSET, n), "");
        EXPECT_TRUE(zeroAt(target, 0, OFFSET));
        EXPECT_TRUE(zeroAt(target, OFFSET + n, 1 << 20));
    }
    // Damaged copies of a good stream.
    std::vector<std::pair<std::string, std::string>> damaged(const std::string &gz)
    {
        const std::string good = readFile(gz);
        std::string crc = good, len = good, body = good, flags = good;
        crc[crc.size() - 6] ^= 0x40;
        // Found by the gzip fuzzer: ISA-L took a header with a reserved
        // flag bit set, which gzip and zlib refuse.
        flags[3] |= 0x40;
        len[len.size() - 2] ^= 0x01;
        body[body.size() / 3] ^= 0xFF;
        body[body.size() / 3 + 1] ^= 0xFF;
        const std::vector<std::pair<std::string, std::string>> bytes = {
            {"cut in the middle", good.substr(0, good.size() / 2)},
            {"cut before the trailer", good.substr(0, good.size() - 8)},
            {"cut inside the trailer", good.substr(0, good.size() - 3)},
            {"wrong CRC", crc},
            {"wrong length", len},
            {"corrupt data", body},
            {"reserved header flag", flags},
            {"not gzip", std::string(4096, 'x')},
            {"empty", ""}};
        std::vector<std::pair<std::string, std::string>> v;
        for (const auto &b : bytes)
            v.push_back({b.first, put("bad" + std::to_string(v.size()) + ".gz", b.second)});
        return v;
    }
};
} // namespace

TEST_F(GzipTest, ConcatenatedMembersAreInflatedWholeByEveryReader)
{
    const std::string a = makeGz("a", imageData(300000, 1));
    const std::string b = makeGz("b", imageData(200001, 2));
    const std::string both = file("both.gz");
    ASSERT_EQ(run("cat " + shq(a) + " " + shq(b) + " > " + shq(both)).status, 0);
    const std::string target = makeTarget("target.img", 4 * OFFSET);
    ASSERT_EQ(writeGz(both, target), 0);
    expectEqualsGzipDc(both, target);
    const std::vector<int> p = percents(m_progress);
    ASSERT_FALSE(p.empty());
    EXPECT_EQ(p.back(), 100);
    for (size_t i = 1; i < p.size(); ++i)
        EXPECT_GT(p[i], p[i - 1]);
    // Speed counts the compressed bytes read.
    ASSERT_FALSE(m_speed.empty());
    EXPECT_EQ(m_speed.back().total, fileSize(both));
    EXPECT_GE(decompress(both), 0);
    EXPECT_EQ(run("gzip -dc " + shq(both) + " | cmp - " + shq(file("out.raw"))).status, 0);
    // The zlib reader is the fallback where ISA-L is absent at build time.
    const std::string want = run("gzip -dc " + shq(both)).out;
    for (bool zlib : {false, true}) {
        std::string got;
        EXPECT_EQ(inflateAll(zlib, both, &got), 0) << zlib;
        EXPECT_TRUE(got == want) << zlib;
    }
}

TEST_F(GzipTest, DamagedStreamsFailEveryReader)
{
    const std::string gz = makeGz("img", imageData(700000, 5));
    for (const auto &bad : damaged(gz)) {
        SCOPED_TRACE(bad.first);
        // gzip itself agrees that the stream is broken.
        EXPECT_NE(run("gzip -t " + shq(bad.second) + " 2>/dev/null").status, 0);
        const std::string target = makeTarget("target.img", 3 * OFFSET);
        EXPECT_EQ(writeGz(bad.second, target), -1);
        for (int p : percents(m_progress))
            EXPECT_LT(p, 100);
        m_progress.clear();
        EXPECT_EQ(decompress(bad.second), -1);
        for (bool zlib : {false, true}) {
            std::string sink;
            EXPECT_EQ(inflateAll(zlib, bad.second, &sink), -1) << zlib;
        }
    }
    EXPECT_NE(log().find("gzread failed"), std::string::npos);
}

TEST_F(GzipTest, GzipReadOfTheFirstBytes)
{
    const std::vector<uint8_t> data = imageData(500000, 9);
    uint8_t buf[102];
    FILE *fp = openRead(makeGz("img", data));
    ASSERT_EQ(gzip_read(fp, buf, sizeof buf), 0);
    EXPECT_EQ(std::vector<uint8_t>(buf, buf + sizeof buf), std::vector<uint8_t>(data.begin(), data.begin() + 102));
    // The caller's descriptor is untouched (a duplicate was read).
    EXPECT_EQ(lseek(fileno(fp), 0, SEEK_CUR), 0);

    // A complete stream shorter than asked: its bytes, then zeros.
    const std::string small = makeGz("small", std::vector<uint8_t>{'R', 'K', 'F', 'W', 1, 2, 3});
    memset(buf, 0xAA, sizeof buf);
    ASSERT_EQ(gzip_read(openRead(small), buf, sizeof buf), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), 4), "RKFW");
    EXPECT_EQ(buf[6], 3);
    for (size_t i = 7; i < sizeof buf; ++i)
        ASSERT_EQ(buf[i], 0) << i;

    // Cut short before the wanted bytes, or not gzip at all: failure.
    EXPECT_EQ(gzip_read(openRead(put("cut.gz", readFile(small).substr(0, 12))), buf, sizeof buf), -1);
    EXPECT_EQ(gzip_read(openRead(put("plain", std::string(200, 'p'))), buf, sizeof buf), -1);
}

TEST_F(GzipTest, OutputWriteFailureIsReported)
{
    const std::string gz = makeGz("img", imageData(100000, 3));
    FILE *full = fopen("/dev/full", "wb");
    if (!full)
        GTEST_SKIP() << "/dev/full not available";
    EXPECT_EQ(decompress_gz(full, openRead(gz), fileSize(gz)), -3);
    fclose(full);
}
