// gzip images: what we write must equal `gzip -dc` byte for byte, and every
// damaged stream must fail instead of passing as a short image.
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
        writeFile(file(name), std::string(data.begin(), data.end()));
        EXPECT_EQ(run("gzip -kf -6 " + shq(file(name))).status, 0);
        return file(name + ".gz");
    }
    int writeGz(const std::string &gz, const std::string &target)
    {
        if (mmc_open(target.c_str()) < 0)
            return -100;
        FILE *fp = openRead(gz);
        const int64_t size = static_cast<int64_t>(fileBytes(gz).size());
        const int ret = write_raw_gz(target.c_str(), OFFSET, 0, fp, size, "img.gz", "root", 1, 1);
        EXPECT_EQ(mmc_release(), 0);
        return ret;
    }
    // cmp of the target at OFFSET against gzip -dc of the same file.
    void expectEqualsGzipDc(const std::string &gz, const std::string &target)
    {
        const std::string ref = file("ref.raw");
        ASSERT_EQ(run("gzip -dc " + shq(gz) + " > " + shq(ref)).status, 0);
        const size_t n = fileBytes(ref).size();
        CmdResult r = run("cmp -n " + std::to_string(n) + " -i 0:" + std::to_string(OFFSET) + " " + shq(ref) + " " +
                          shq(target));
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_TRUE(allZero(target, 0, OFFSET));
        EXPECT_TRUE(allZero(target, OFFSET + n, 1 << 20));
    }
    // Damaged copies of a good stream.
    std::vector<std::pair<std::string, std::string>> damaged(const std::string &gz)
    {
        const std::string good = readFile(gz);
        std::vector<std::pair<std::string, std::string>> v;
        auto add = [&](const std::string &what, std::string bytes) {
            const std::string p = file("bad" + std::to_string(v.size()) + ".gz");
            writeFile(p, bytes);
            v.push_back({what, p});
        };
        add("cut in the middle", good.substr(0, good.size() / 2));
        add("cut before the trailer", good.substr(0, good.size() - 8));
        add("cut inside the trailer", good.substr(0, good.size() - 3));
        std::string crc = good;
        crc[crc.size() - 6] ^= 0x40;
        add("wrong CRC", crc);
        std::string len = good;
        len[len.size() - 2] ^= 0x01;
        add("wrong length", len);
        std::string body = good;
        body[body.size() / 3] ^= 0xFF;
        body[body.size() / 3 + 1] ^= 0xFF;
        add("corrupt data", body);
        add("not gzip", std::string(4096, 'x'));
        add("empty", "");
        return v;
    }
};
} // namespace

TEST_F(GzipTest, WrittenImageEqualsGzipDcForSizesAroundPieces)
{
    for (size_t size : {size_t(3 * 1600000), size_t(1600000 - 1), size_t(5 * 64 * 1024), size_t(777)}) {
        SCOPED_TRACE(size);
        m_progress.clear();
        const std::string gz = makeGz("img", imageData(size, uint32_t(size)));
        const std::string target = makeTarget("target.img", size + 3 * OFFSET);
        ASSERT_EQ(writeGz(gz, target), 0);
        expectEqualsGzipDc(gz, target);
        const std::vector<int> p = percents(m_progress);
        ASSERT_FALSE(p.empty());
        EXPECT_EQ(p.back(), 100);
        for (size_t i = 1; i < p.size(); ++i)
            EXPECT_GT(p[i], p[i - 1]);
        ASSERT_FALSE(m_speed.empty());
        EXPECT_EQ(m_speed.back().total, static_cast<int64_t>(fileBytes(gz).size()));
    }
}

TEST_F(GzipTest, ConcatenatedMembersAreInflatedWhole)
{
    const std::string a = makeGz("a", imageData(300000, 1));
    const std::string b = makeGz("b", imageData(200001, 2));
    const std::string both = file("both.gz");
    ASSERT_EQ(run("cat " + shq(a) + " " + shq(b) + " > " + shq(both)).status, 0);
    const std::string target = makeTarget("target.img", 4 * OFFSET);
    ASSERT_EQ(writeGz(both, target), 0);
    expectEqualsGzipDc(both, target);

    FILE *out = fopen(file("out.raw").c_str(), "wb");
    ASSERT_NE(out, nullptr);
    FILE *in = openRead(both);
    EXPECT_GE(decompress_gz(out, in, static_cast<int64_t>(fileBytes(both).size())), 0);
    ASSERT_EQ(fclose(out), 0);
    EXPECT_EQ(run("gzip -dc " + shq(both) + " | cmp - " + shq(file("out.raw"))).status, 0);
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

        FILE *out = fopen(file("out.raw").c_str(), "wb");
        ASSERT_NE(out, nullptr);
        FILE *in = openRead(bad.second);
        EXPECT_EQ(decompress_gz(out, in, static_cast<int64_t>(fileBytes(bad.second).size())), -1);
        fclose(out);
    }
    EXPECT_NE(log().find("gzread failed"), std::string::npos);
}

TEST_F(GzipTest, GzipReadOfTheFirstBytes)
{
    const std::vector<uint8_t> data = imageData(500000, 9);
    const std::string gz = makeGz("img", data);
    uint8_t buf[102];
    FILE *fp = openRead(gz);
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
    const std::string good = readFile(small);
    writeFile(file("cut.gz"), good.substr(0, 12));
    EXPECT_EQ(gzip_read(openRead(file("cut.gz")), buf, sizeof buf), -1);
    writeFile(file("plain"), std::string(200, 'p'));
    EXPECT_EQ(gzip_read(openRead(file("plain")), buf, sizeof buf), -1);
}

TEST_F(GzipTest, OutputWriteFailureIsReported)
{
    const std::string gz = makeGz("img", imageData(100000, 3));
    FILE *full = fopen("/dev/full", "wb");
    if (!full)
        GTEST_SKIP() << "/dev/full not available";
    EXPECT_EQ(decompress_gz(full, openRead(gz), static_cast<int64_t>(fileBytes(gz).size())), -3);
    fclose(full);
}

TEST_F(GzipTest, CancelStopsBetweenChunks)
{
    const std::string gz = makeGz("img", imageData(40 * 64 * 1024, 12));
    const std::string target = makeTarget("target.img", 44 * 64 * 1024 + OFFSET);
    std::atomic<bool> cancel{false};
    stream_set_cancel_flag(&cancel);
    gui_setup_progress_report_function(
        "test", [&](bool, const std::string &, const std::string &, int, int, int) { cancel = true; }, nullptr);
    EXPECT_EQ(writeGz(gz, target), MMC_COPY_CANCELLED);
    // The chunk that reported progress was written, nothing after it.
    EXPECT_TRUE(allZero(target, OFFSET + 2 * 64 * 1024, 38 * 64 * 1024));
}

TEST_F(GzipTest, BothInflatersAgreeOnGoodAndDamagedStreams)
{
    // The zlib reader is the fallback where ISA-L is absent at build time.
    const std::vector<uint8_t> data = imageData(600000, 17);
    const std::string a = makeGz("a", data);
    const std::string b = makeGz("b", imageData(1000, 18));
    ASSERT_EQ(run("cat " + shq(a) + " " + shq(b) + " > " + shq(file("ab.gz"))).status, 0);
    auto inflateAll = [](std::unique_ptr<storage_internal::gz_source> src, std::string *out) -> int {
        if (!src)
            return -2;
        std::vector<uint8_t> buf(70000);
        while (true) {
            const int64_t n = src->read(buf.data(), buf.size());
            if (n < 0)
                return -1;
            if (n == 0)
                return 0;
            out->append(reinterpret_cast<char *>(buf.data()), size_t(n));
        }
    };
    const std::string want = run("gzip -dc " + shq(file("ab.gz"))).out;
    for (int kind = 0; kind < 2; ++kind) {
        SCOPED_TRACE(kind ? "zlib" : "default");
        auto open = [&](const std::string &p) {
            const int fd = ::open(p.c_str(), O_RDONLY);
            return kind ? storage_internal::gz_source_zlib(fd) : storage_internal::gz_source::open(fd);
        };
        std::string got;
        EXPECT_EQ(inflateAll(open(file("ab.gz")), &got), 0);
        EXPECT_TRUE(got == want);
        for (const auto &bad : damaged(a)) {
            SCOPED_TRACE(bad.first);
            std::string sink;
            EXPECT_EQ(inflateAll(open(bad.second), &sink), -1);
        }
    }
}
