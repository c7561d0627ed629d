// What overlapping reads and writes could break: stopping on either side's
// failure, cancelling between chunks, byte-exact output for odd chunk sizes.
#include "storage/imagewriter.h"
#include "storage_fixture.h"

#include <csignal>
#include <memory>
#include <sys/resource.h>

using namespace testsupport;

namespace {
constexpr int64_t CHUNK = 64 * 1024;

class PipelineTest : public StorageTest
{
protected:
    std::string source(int64_t size, uint32_t seed = 21)
    {
        const std::vector<uint8_t> d = patternBytes(size, seed);
        writeFile(file("src.img"), std::string(d.begin(), d.end()));
        return file("src.img");
    }
};
} // namespace

TEST_F(PipelineTest, CancelBeforeStartWritesNothing)
{
    const std::string src = source(10 * CHUNK);
    const std::string tgt = makeTarget("target.img", 10 * CHUNK);
    std::atomic<bool> cancel{true};
    stream_set_cancel_flag(&cancel);
    ASSERT_GE(mmc_open(tgt.c_str()), 0);
    EXPECT_EQ(write_raw(tgt.c_str(), 0, 0, openRead(src), 10 * CHUNK, "s", "p", 1, 1), MMC_COPY_CANCELLED);
    EXPECT_EQ(mmc_release(), 0);
    EXPECT_TRUE(allZero(tgt, 0, 10 * CHUNK));
    EXPECT_TRUE(m_progress.empty() || m_progress.back().percent < 100);
}

TEST_F(PipelineTest, CancelBetweenChunksStopsAfterTheCurrentOne)
{
    const std::string src = source(40 * CHUNK);
    const std::string tgt = makeTarget("target.img", 40 * CHUNK);
    std::atomic<bool> cancel{false};
    stream_set_cancel_flag(&cancel);
    int reports = 0;
    gui_setup_progress_report_function(
        "test",
        [&](bool, const std::string &, const std::string &, int, int, int) {
            if (++reports == 3)
                cancel = true;
        },
        nullptr);
    ASSERT_GE(mmc_open(tgt.c_str()), 0);
    EXPECT_EQ(write_raw(tgt.c_str(), 0, 0, openRead(src), 40 * CHUNK, "s", "p", 1, 1), MMC_COPY_CANCELLED);
    EXPECT_EQ(mmc_release(), 0);
    EXPECT_EQ(run("cmp -n " + std::to_string(3 * CHUNK) + " " + shq(src) + " " + shq(tgt)).status, 0);
    EXPECT_TRUE(allZero(tgt, 3 * CHUNK, 37 * CHUNK));
    // A cancelled sparse expansion reports the same value.
    cancel = true;
    ASSERT_GE(mmc_open(tgt.c_str()), 0);
    const std::string simg = file("s.simg");
    sparse_header_t h{SPARSE_HEADER_MAGIC, 1, 0, 28, 12, 4096, 1, 1, 0};
    chunk_header_t c{CHUNK_TYPE_FILL, 0, 1, 16};
    std::string bytes(reinterpret_cast<char *>(&h), 28);
    bytes.append(reinterpret_cast<char *>(&c), 12);
    bytes.append("\1\1\1\1", 4);
    writeFile(simg, bytes);
    EXPECT_EQ(write_image(tgt.c_str(), 0, CHUNK, openRead(simg), int64_t(bytes.size()), "s", "p", 1, 1),
              MMC_COPY_CANCELLED);
    EXPECT_EQ(mmc_release(), 0);
    stream_set_cancel_flag(nullptr);
}

TEST_F(PipelineTest, WriteErrorStopsTheReader)
{
    const std::string src = source(40 * CHUNK);
    const std::string tgt = makeTarget("target.img", 0);
    FILE *fp = openRead(src);
    ASSERT_GE(mmc_open(tgt.c_str()), 0);
    rlimit old;
    getrlimit(RLIMIT_FSIZE, &old);
    sighandler_t h = signal(SIGXFSZ, SIG_IGN);
    rlimit lim = old;
    lim.rlim_cur = 5 * CHUNK / 2;
    setrlimit(RLIMIT_FSIZE, &lim);
    const int ret = write_raw(tgt.c_str(), 0, 0, fp, 40 * CHUNK, "s", "p", 1, 1);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, h);
    EXPECT_EQ(ret, -1);
    EXPECT_EQ(mmc_release(), 0);
    // The reader is at most the two buffers ahead of the failed write.
    EXPECT_LE(ftello(fp), 5 * CHUNK);
    EXPECT_NE(log().find("mmc_write failed"), std::string::npos);
}

TEST_F(PipelineTest, OddChunkSizesStayByteExact)
{
    if (!haveTool("simg2img") || !haveTool("gzip"))
        GTEST_SKIP() << "simg2img or gzip missing";
    // Raw, gzip and sparse through chunk sizes that divide nothing.
    const std::vector<uint8_t> a = patternBytes(5 * 4096 + 0, 31);
    sparse_header_t h{SPARSE_HEADER_MAGIC, 1, 0, 28, 12, 4096, 0, 0, 0};
    std::string body;
    auto chunk = [&](uint16_t type, uint32_t blocks, const std::string &data) {
        chunk_header_t c{type, 0, blocks, uint32_t(12 + data.size())};
        body.append(reinterpret_cast<char *>(&c), 12);
        body += data;
        h.total_blks += blocks;
        h.total_chunks++;
    };
    chunk(CHUNK_TYPE_RAW, 5, std::string(a.begin(), a.end()));
    chunk(CHUNK_TYPE_FILL, 7, "\xde\xad\xbe\xef");
    chunk(CHUNK_TYPE_RAW, 2, std::string(a.begin(), a.begin() + 8192));
    chunk(CHUNK_TYPE_FILL, 1, std::string(4, '\0'));
    chunk(CHUNK_TYPE_RAW, 3, std::string(a.begin() + 4096, a.begin() + 4 * 4096));
    std::string simg(reinterpret_cast<char *>(&h), 28);
    simg += body;
    writeFile(file("x.simg"), simg);
    ASSERT_EQ(run("simg2img " + shq(file("x.simg")) + " " + shq(file("x.ref"))).status, 0);
    const std::string src = source(300001);
    ASSERT_EQ(run("gzip -kf " + shq(src)).status, 0);

    for (int bs : {4096, 5000, 12289, 65536, 1 << 20}) {
        SCOPED_TRACE(bs);
        BUFFER_SIZE = bs;
        const std::string tgt = makeTarget("target.img", 1 << 20);
        ASSERT_GE(mmc_open(tgt.c_str()), 0);
        ASSERT_EQ(write_image(tgt.c_str(), 0, 1 << 20, openRead(file("x.simg")), int64_t(simg.size()), "x", "p", 1, 1),
                  0);
        EXPECT_EQ(run("cmp -n " + std::to_string(18 * 4096) + " " + shq(file("x.ref")) + " " + shq(tgt)).status, 0);
        ASSERT_EQ(write_raw(tgt.c_str(), 4096, 0, openRead(src), 300001, "r", "p", 1, 1), 0);
        EXPECT_EQ(run("cmp -n 300001 -i 0:4096 " + shq(src) + " " + shq(tgt)).status, 0);
        const std::string gz = src + ".gz";
        ASSERT_EQ(write_raw_gz(tgt.c_str(), 8192, 0, openRead(gz), int64_t(fileBytes(gz).size()), "g", "p", 1, 1), 0);
        EXPECT_EQ(run("cmp -n 300001 -i 0:8192 " + shq(src) + " " + shq(tgt)).status, 0);
        EXPECT_EQ(mmc_release(), 0);
        const std::vector<int> p = percents(m_progress);
        ASSERT_FALSE(p.empty());
        EXPECT_EQ(p.back(), 100);
        m_progress.clear();
    }
}

TEST_F(PipelineTest, UnusableChunkSizeFailsCleanly)
{
    const std::string src = source(1000);
    const std::string tgt = makeTarget("target.img", 4096);
    BUFFER_SIZE = 0;
    ASSERT_GE(mmc_open(tgt.c_str()), 0);
    EXPECT_LT(write_raw(tgt.c_str(), 0, 0, openRead(src), 1000, "s", "p", 1, 1), 0);
    EXPECT_EQ(mmc_release(), 0);
    EXPECT_TRUE(allZero(tgt, 0, 4096));
}

namespace {
// Source with whole zero MiBs between data, as file system images have.
std::vector<uint8_t> zeroRunData()
{
    std::vector<uint8_t> d = patternBytes(9 * (1 << 20) + 5000, 44);
    std::fill(d.begin() + (1 << 20), d.begin() + 4 * (1 << 20), 0);
    std::fill(d.begin() + 5 * (1 << 20) + 100, d.begin() + 7 * (1 << 20), 0);
    std::fill(d.begin() + 8 * (1 << 20), d.end(), 0);
    return d;
}

} // namespace

TEST_F(PipelineTest, ZeroRunsReplaceOldDataOnFileAndLoopDevice)
{
    BUFFER_SIZE = 4 << 20;
    const std::vector<uint8_t> d = zeroRunData();
    writeFile(file("src.img"), std::string(d.begin(), d.end()));
    const int64_t size = int64_t(d.size());
    const std::vector<uint8_t> old = patternBytes((size + (2 << 20)) / 4096 * 4096 + 4096, 45);
    std::vector<std::string> targets = {file("target.img")};
    std::unique_ptr<LoopDevice> loop;
    makeSparseFile(file("loop.img"), old.size());
    makeSparseFile(file("target.img"), old.size());
    if (loopUnavailableReason().empty()) {
        loop.reset(new LoopDevice(file("loop.img")));
        ASSERT_TRUE(loop->ok()) << loop->error();
        targets.push_back(linkDevice(loop->dev()));
    }
    for (const std::string &t : targets) {
        for (int64_t offset : {int64_t(1 << 20), int64_t(4096 * 3 + 512)}) {
            SCOPED_TRACE(t + " at " + std::to_string(offset));
            ASSERT_GE(mmc_open(t.c_str()), 0);
            ASSERT_EQ(mmc_write(t.c_str(), 0, int64_t(old.size()), old.data()), int64_t(old.size()));
            ASSERT_EQ(write_raw(t.c_str(), offset, 0, openRead(file("src.img")), size, "z", "p", 1, 1), 0);
            ASSERT_EQ(mmc_release(), 0);
            const std::string back = t == file("target.img") ? t : file("loop.img");
            CmdResult r = run("cmp -n " + std::to_string(size) + " -i 0:" + std::to_string(offset) + " " +
                              shq(file("src.img")) + " " + shq(back));
            EXPECT_EQ(r.status, 0) << r.out;
            EXPECT_EQ(readBytes(back, 0, offset), std::vector<uint8_t>(old.begin(), old.begin() + offset));
            EXPECT_EQ(readBytes(back, offset + size, 1 << 20),
                      std::vector<uint8_t>(old.begin() + offset + size, old.begin() + offset + size + (1 << 20)));
        }
    }
    if (!loop)
        GTEST_SKIP() << "file target checked; loop device: " << loopUnavailableReason();
}

TEST_F(PipelineTest, BackupOfZeroRunsReadsBackTheSame)
{
    BUFFER_SIZE = 4 << 20;
    const std::vector<uint8_t> d = zeroRunData();
    writeFile(file("disk.img"), std::string(d.begin(), d.end()));
    // Whole MiBs ending in a zero MiB, and the odd size with a short tail.
    for (int64_t len : {int64_t(9 << 20), int64_t(d.size())}) {
        SCOPED_TRACE(len);
        ASSERT_GE(mmc_open(file("disk.img").c_str()), 0);
        FILE *out = fopen(file("backup.raw").c_str(), "wb");
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(read_raw(file("disk.img").c_str(), 0, len, out, len, "b", "root", 1, 1), 0);
        EXPECT_EQ(ftello(out), len);
        ASSERT_EQ(fclose(out), 0);
        EXPECT_EQ(mmc_release(), 0);
        EXPECT_EQ(fileBytes(file("backup.raw")).size(), size_t(len));
        CmdResult r = run("cmp -n " + std::to_string(len) + " " + shq(file("disk.img")) + " " + shq(file("backup.raw")));
        EXPECT_EQ(r.status, 0) << r.out;
    }
    // Into a file that already holds data, the zeros are written.
    const std::vector<uint8_t> old = patternBytes(d.size(), 3);
    writeFile(file("backup.raw"), std::string(old.begin(), old.end()));
    ASSERT_GE(mmc_open(file("disk.img").c_str()), 0);
    FILE *out = fopen(file("backup.raw").c_str(), "r+b");
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(read_raw(file("disk.img").c_str(), 0, int64_t(d.size()), out, int64_t(d.size()), "b", "root", 1, 1), 0);
    ASSERT_EQ(fclose(out), 0);
    EXPECT_EQ(mmc_release(), 0);
    EXPECT_EQ(run("cmp " + shq(file("disk.img")) + " " + shq(file("backup.raw"))).status, 0);
}
