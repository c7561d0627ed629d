// IDB loader copies, parameter block copies, the S5P second-stage loader
// and the built-in IDB loaders, written to regular files standing in for
// the device.
#include "storage/idbloader_builtin.h"
#include "storage/mmc.h"
#include "storage/rkparm.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

using namespace testsupport;

namespace {

struct FileCloser
{
    void operator()(FILE *f) const { fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

FilePtr openRead(const std::string &path)
{
    return FilePtr(fopen(path.c_str(), "rb"));
}

// Writes into a regular file and records each call, so that tests can check
// the order of the copies as well as the bytes.
struct Recorder
{
    std::string path;
    std::vector<std::pair<int64_t, int64_t>> calls;
    int failAt = -1;   // call number that returns a short count

    part_write_fn fn()
    {
        return [this](const char *, int64_t off, int64_t len, const void *buf) -> int64_t {
            calls.emplace_back(off, len);
            if (static_cast<int>(calls.size()) - 1 == failAt)
                return len / 2;
            const int fd = open(path.c_str(), O_WRONLY);
            if (fd < 0)
                return -errno;
            const ssize_t n = pwrite(fd, buf, static_cast<size_t>(len), off);
            close(fd);
            return n;
        };
    }
};

bool allZero(const std::vector<uint8_t> &v)
{
    for (uint8_t b : v)
        if (b)
            return false;
    return true;
}

uint32_t le32(const std::vector<uint8_t> &v, size_t off)
{
    return v[off] | (v[off + 1] << 8) | (v[off + 2] << 16) | (static_cast<uint32_t>(v[off + 3]) << 24);
}

} // namespace

TEST(RkBootWrite, IdbCopiesAtSector64AndHalfMiBLaterInOrder)
{
    TempDir d;
    const std::string dev = d.file("disk");
    makeSparseFile(dev, 8 << 20);
    writeBytes(dev, 64 * 512, std::vector<uint8_t>(2 * RK_COPY_SIZE, 0xEE));   // stale old loader
    const std::vector<uint8_t> loader = patternBytes(102916, 1);
    writeBytes(d.file("idb"), 0, loader);

    Recorder rec{dev, {}, -1};
    FilePtr f = openRead(d.file("idb"));
    ASSERT_EQ(write_rk_idb_to(dev.c_str(), 64 * 512, RK_IDB_AREA_BYTES, f.get(), loader.size(), rec.fn()), 0);
    ASSERT_EQ(rec.calls.size(), 2u);
    using Call = std::pair<int64_t, int64_t>;
    EXPECT_EQ(rec.calls[0], Call(64 * 512, RK_COPY_SIZE));
    EXPECT_EQ(rec.calls[1], Call(64 * 512 + RK_COPY_SIZE, RK_COPY_SIZE));
    for (int i = 0; i < 2; i++) {
        const int64_t base = 64 * 512 + i * RK_COPY_SIZE;
        EXPECT_EQ(readBytes(dev, base, loader.size()), loader) << "copy " << i;
        // The rest of each 512 KiB copy is zero, not the stale bytes.
        EXPECT_TRUE(allZero(readBytes(dev, base + loader.size(), RK_COPY_SIZE - loader.size()))) << i;
    }
    EXPECT_TRUE(allZero(readBytes(dev, 0, 64 * 512)));
}

TEST(RkBootWrite, IdbAndParameterRefusals)
{
    TempDir d;
    const std::string dev = d.file("disk");
    makeSparseFile(dev, 8 << 20);
    writeBytes(d.file("big"), 0, std::vector<uint8_t>(RK_COPY_SIZE + 1, 1));
    writeBytes(d.file("max"), 0, std::vector<uint8_t>(RK_PARM_MAX_TEXT + 1, 'p'));
    Recorder rec{dev, {}, -1};

    FilePtr f = openRead(d.file("big"));
    EXPECT_EQ(write_rk_idb_to(dev.c_str(), 32768, RK_IDB_AREA_BYTES, f.get(), RK_COPY_SIZE + 1, rec.fn()), -1);
    EXPECT_EQ(write_rk_idb_to(dev.c_str(), 32768, RK_IDB_AREA_BYTES - 1, f.get(), 100, rec.fn()), -1);
    EXPECT_TRUE(rec.calls.empty());
    // A file shorter than its announced size is a short read.
    FilePtr small = openRead(d.file("big"));
    ASSERT_EQ(fseek(small.get(), 100, SEEK_END), 0);
    EXPECT_EQ(write_rk_idb_to(dev.c_str(), 32768, RK_IDB_AREA_BYTES, small.get(), 1000, rec.fn()), -1);

    FilePtr p = openRead(d.file("max"));
    EXPECT_EQ(write_rk_parm_to(dev.c_str(), 0x400000, RK_PARM_AREA_BYTES, p.get(), RK_PARM_MAX_TEXT + 1, rec.fn()), -1);
    EXPECT_EQ(write_rk_parm_to(dev.c_str(), 0x400000, RK_PARM_AREA_BYTES - 512, p.get(), 10, rec.fn()), -1);
    EXPECT_TRUE(rec.calls.empty());
    // Exactly the largest text fits.
    EXPECT_EQ(write_rk_parm_to(dev.c_str(), 0x400000, RK_PARM_AREA_BYTES, p.get(), RK_PARM_MAX_TEXT, rec.fn()), 0);
    EXPECT_EQ(rec.calls.size(), 8u);

    // A short device write is a failure (negative), and it stops at once.
    Recorder shortRec{dev, {}, 1};
    FilePtr p2 = openRead(d.file("max"));
    EXPECT_LT(write_rk_parm_to(dev.c_str(), 0x400000, RK_PARM_AREA_BYTES, p2.get(), 100, shortRec.fn()), 0);
    EXPECT_EQ(shortRec.calls.size(), 2u);
}

TEST(RkBootWrite, ParameterCopiesMatchRkcrc)
{
    if (!haveTool("rkcrc"))
        GTEST_SKIP() << "rkcrc (rkflashtool) is not installed";
    TempDir d;
    const std::string dev = d.file("disk");
    makeSparseFile(dev, 16 << 20);
    const std::string text = "FIRMWARE_VER:8.1\nMANUFACTURER:RK3399\nMACHINE_MODEL:RK3399\n"
                             "CMDLINE:mtdparts=rk29xxnand:0x00002000@0x00002000(uboot),-@0x0001c000(rootfs:grow)\n";
    writeFile(d.file("parameter.txt"), text);
    ASSERT_EQ(run("rkcrc -p " + shq(d.file("parameter.txt")) + " " + shq(d.file("parm.bin"))).status, 0);
    const std::string block = readFile(d.file("parm.bin"));
    ASSERT_EQ(block.size(), text.size() + 12);

    Recorder rec{dev, {}, -1};
    FilePtr f = openRead(d.file("parameter.txt"));
    const int64_t off = RK_PARM_START * 512;
    ASSERT_EQ(write_rk_parm_to(dev.c_str(), off, RK_PARM_AREA_BYTES, f.get(), text.size(), rec.fn()), 0);
    ASSERT_EQ(rec.calls.size(), 8u);
    for (int i = 0; i < 8; i++) {
        EXPECT_EQ(rec.calls[i].first, off + i * RK_COPY_SIZE);
        const std::vector<uint8_t> got = readBytes(dev, off + i * RK_COPY_SIZE, RK_COPY_SIZE);
        EXPECT_EQ(0, memcmp(got.data(), block.data(), block.size())) << "copy " << i;
        EXPECT_TRUE(allZero(std::vector<uint8_t>(got.begin() + block.size(), got.end()))) << i;
    }
    EXPECT_TRUE(allZero(readBytes(dev, off + RK_PARM_AREA_BYTES, 1 << 20)));
}

TEST(RkBootWrite, SecondBootWithAndWithoutHeader)
{
    TempDir d;
    const std::string dev = d.file("disk");
    makeSparseFile(dev, 4 << 20);
    ASSERT_GE(mmc_open(dev.c_str()), 0);
    BUFFER_SIZE = 4096;   // several chunks for the streamed rest

    std::vector<uint8_t> plain = patternBytes(20000, 3);
    plain[0x1FC] = 0;   // not "NSIH"
    writeBytes(d.file("plain.bin"), 0, plain);
    std::vector<uint8_t> signed_ = patternBytes(30000, 4);
    memcpy(&signed_[0x1FC], "NSIH", 4);
    writeBytes(d.file("signed.bin"), 0, signed_);

    FilePtr f = openRead(d.file("plain.bin"));
    EXPECT_EQ(write_2nd_boot(dev.c_str(), 512, 0, f.get(), plain.size(), "plain.bin", "2ndboot", 2, 1), 0);
    FilePtr g = openRead(d.file("signed.bin"));
    EXPECT_EQ(write_2nd_boot(dev.c_str(), 1 << 20, 0, g.get(), signed_.size(), "signed.bin", "2ndboot", 2, 2), 0);
    // A signed loader of one sector leaves nothing to stream.
    writeBytes(d.file("one.bin"), 0, std::vector<uint8_t>(signed_.begin(), signed_.begin() + 512));
    FilePtr o = openRead(d.file("one.bin"));
    EXPECT_EQ(write_2nd_boot(dev.c_str(), 3 << 20, 0, o.get(), 512, "one.bin", "2ndboot", 2, 2), 0);
    // A file shorter than announced fails in the streamed copy.
    FilePtr s = openRead(d.file("plain.bin"));
    EXPECT_EQ(write_2nd_boot(dev.c_str(), 2 << 20, 0, s.get(), plain.size() + 5000, "plain.bin", "2ndboot", 2, 2), -1);
    // A loader too short to hold a header sector is refused.
    writeBytes(d.file("tiny.bin"), 0, std::vector<uint8_t>(100, 1));
    FilePtr t = openRead(d.file("tiny.bin"));
    EXPECT_EQ(write_2nd_boot(dev.c_str(), 3 << 20, 0, t.get(), 100, "tiny.bin", "2ndboot", 2, 2), -1);
    EXPECT_EQ(mmc_release(), 0);
    mmc_reset_state_for_test();

    // Built header in front, then the file unchanged.
    const std::vector<uint8_t> head = readBytes(dev, 512, 512);
    EXPECT_EQ(le32(head, 0x44), 0x6000u);
    EXPECT_EQ(le32(head, 0x1FC), S5P_NSIH_MAGIC);
    EXPECT_EQ(readBytes(dev, 1024, plain.size()), plain);
    // A signed loader goes on the device as it is.
    EXPECT_EQ(readBytes(dev, 1 << 20, signed_.size()), signed_);
    EXPECT_EQ(readBytes(dev, 3 << 20, 512), std::vector<uint8_t>(signed_.begin(), signed_.begin() + 512));
}

TEST(RkBootWrite, DeviceWritersThroughMmc)
{
    TempDir d;
    const std::string dev = d.file("disk");
    makeSparseFile(dev, 8 << 20);
    ASSERT_GE(mmc_open(dev.c_str()), 0);
    const std::vector<uint8_t> loader = patternBytes(4000, 9);
    writeBytes(d.file("idb"), 0, loader);
    writeFile(d.file("parameter.txt"), "CMDLINE:mtdparts=x:-@0x4000(rootfs)\n");
    FilePtr f = openRead(d.file("idb"));
    EXPECT_EQ(write_rk_idb(dev.c_str(), 32768, RK_IDB_AREA_BYTES, f.get(), loader.size(), "idb", "idbloader.img", 2, 1), 0);
    FilePtr p = openRead(d.file("parameter.txt"));
    EXPECT_EQ(write_rk_parm(dev.c_str(), 0x400000, RK_PARM_AREA_BYTES, p.get(), 36, "parameter.txt", "parameter.txt", 2, 2), 0);
    EXPECT_EQ(mmc_release(), 0);
    mmc_reset_state_for_test();
    EXPECT_EQ(readBytes(dev, 32768, loader.size()), loader);
    EXPECT_EQ(readBytes(dev, 32768 + RK_COPY_SIZE, loader.size()), loader);
    // Every copy as rkcrc (rkflashtool) builds the block, not as our CRC would.
    if (!haveTool("rkcrc"))
        GTEST_SKIP() << "rkcrc (rkflashtool) is not installed";
    ASSERT_EQ(run("rkcrc -p " + shq(d.file("parameter.txt")) + " " + shq(d.file("parm.bin"))).status, 0);
    for (int i = 0; i < 8; i++)
        EXPECT_EQ(cmpAt(d.file("parm.bin"), 0, dev, 0x400000 + i * RK_COPY_SIZE), "") << "copy " << i;
}

TEST(RkBootWrite, BuiltInLoaders)
{
    TempDir d;
    EXPECT_EQ(gen_idbloader_img("RK3566", d.file("x.img").c_str()), -1);
    EXPECT_EQ(gen_idbloader_img(nullptr, d.file("x.img").c_str()), -1);
    struct stat st;
    EXPECT_NE(stat(d.file("x.img").c_str(), &st), 0) << "an unsupported SoC must leave no file";

    int present = 0;
    for (const char *soc : {"rk3328", "RK3399", "Rk3568", "rk3588", "RK3576", "rk3528"}) {
        uint32_t len = 0;
        const unsigned char *data = idbloader_builtin_find(soc, &len);
        const std::string out = d.file(std::string(soc) + ".img");
        if (!data || len == 0) {
            EXPECT_EQ(gen_idbloader_img(soc, out.c_str()), -1) << soc;
            EXPECT_NE(stat(out.c_str(), &st), 0) << soc;
            continue;
        }
        present++;
        writeFile(out, std::string(len + 1000, 'z'));   // truncated, not overwritten in place
        ASSERT_EQ(gen_idbloader_img(soc, out.c_str()), 0) << soc;
        EXPECT_EQ(readFile(out), std::string(reinterpret_cast<const char *>(data), len)) << soc;
        EXPECT_EQ(gen_idbloader_img(soc, d.file("missing/dir/x.img").c_str()), -2);
        if (access("/dev/full", W_OK) == 0)
            EXPECT_EQ(gen_idbloader_img(soc, "/dev/full"), -3);
    }
    if (present == 0)
        GTEST_SKIP() << "this build embeds no IDB loader (firmware/idbloader is empty)";
}
