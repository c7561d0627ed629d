// IDB loader copies, parameter block copies (built by rkcrc for comparison),
// the S5P second-stage loader and the built-in IDB loaders, written to
// regular files standing in for the device; and the parameter text parser.
#include "storage/idbloader_builtin.h"
#include "storage/mmc.h"
#include "storage/rkparm.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <vector>

using namespace testsupport;

namespace {

using FilePtr = std::unique_ptr<FILE, decltype(&fclose)>;
using Call = std::pair<int64_t, int64_t>;

class RkBootWrite : public ::testing::Test
{
protected:
    void SetUp() override { makeSparseFile(m_dev, 16 << 20); }

    // `bytes` as a file of the temporary directory, opened for reading.
    template <class T> FilePtr source(const std::string &name, const T &bytes)
    {
        writeFile(m_dir.file(name), bytes);
        return FilePtr(fopen(m_dir.file(name).c_str(), "rb"), &fclose);
    }
    // Writes into the device file and records each call (offset, length);
    // call number `failAt` returns a short count.
    part_write_fn recorder(int failAt = -1)
    {
        return [this, failAt](const char *, int64_t off, int64_t len, const void *buf) -> int64_t {
            m_calls.emplace_back(off, len);
            if (int(m_calls.size()) - 1 == failAt)
                return len / 2;
            const int fd = open(m_dev.c_str(), O_WRONLY);
            const ssize_t n = pwrite(fd, buf, size_t(len), off);
            close(fd);
            return n;
        };
    }

    TempDir m_dir;
    const std::string m_dev = m_dir.file("disk");
    std::vector<Call> m_calls;
};

std::string nameOf(const partinfo &p)
{
    return std::string(p.name, strnlen(p.name, sizeof p.name));
}

struct Parsed
{
    int count = 0;
    std::vector<partinfo> parts = std::vector<partinfo>(RKPARM_MAX_PARTS);
    std::string out;
};

Parsed parse(const std::string &text, const std::string &dir, int mode, const char *paramFile = nullptr,
             int capacity = RKPARM_MAX_PARTS)
{
    Parsed r;
    testing::internal::CaptureStdout();
    r.count = rkparm_part_parse(text.c_str(), r.parts.data(), dir.c_str(), mode, paramFile, capacity);
    r.out = testing::internal::GetCapturedStdout();
    return r;
}

} // namespace

TEST_F(RkBootWrite, IdbCopiesAtSector64AndHalfMiBLaterInOrder)
{
    writeBytes(m_dev, 64 * 512, std::vector<uint8_t>(2 * RK_COPY_SIZE, 0xEE));   // stale old loader
    const std::vector<uint8_t> loader = patternBytes(102916, 1);
    FilePtr f = source("idb", loader);
    ASSERT_EQ(write_rk_idb_to(m_dev.c_str(), 64 * 512, RK_IDB_AREA_BYTES, f.get(), loader.size(), recorder()), 0);
    EXPECT_EQ(m_calls, (std::vector<Call>{{64 * 512, RK_COPY_SIZE}, {64 * 512 + RK_COPY_SIZE, RK_COPY_SIZE}}));
    for (int i = 0; i < 2; i++) {
        const int64_t base = 64 * 512 + i * RK_COPY_SIZE;
        EXPECT_EQ(readBytes(m_dev, base, loader.size()), loader) << "copy " << i;
        // The rest of each 512 KiB copy is zero, not the stale bytes.
        EXPECT_TRUE(zeroAt(m_dev, base + loader.size(), RK_COPY_SIZE - loader.size())) << i;
    }
    EXPECT_TRUE(zeroAt(m_dev, 0, 64 * 512));
}

TEST_F(RkBootWrite, IdbAndParameterRefusals)
{
    FilePtr big = source("big", std::vector<uint8_t>(RK_COPY_SIZE + 1, 1));
    EXPECT_EQ(write_rk_idb_to(m_dev.c_str(), 32768, RK_IDB_AREA_BYTES, big.get(), RK_COPY_SIZE + 1, recorder()), -1);
    EXPECT_EQ(write_rk_idb_to(m_dev.c_str(), 32768, RK_IDB_AREA_BYTES - 1, big.get(), 100, recorder()), -1);
    // A file shorter than its announced size is a short read.
    ASSERT_EQ(fseek(big.get(), 100, SEEK_END), 0);
    EXPECT_EQ(write_rk_idb_to(m_dev.c_str(), 32768, RK_IDB_AREA_BYTES, big.get(), 1000, recorder()), -1);

    FilePtr p = source("max", std::string(RK_PARM_MAX_TEXT + 1, 'p'));
    EXPECT_EQ(-1, write_rk_parm_to(m_dev.c_str(), 0x400000, RK_PARM_AREA_BYTES, p.get(), RK_PARM_MAX_TEXT + 1,
                                   recorder()));
    EXPECT_EQ(write_rk_parm_to(m_dev.c_str(), 0x400000, RK_PARM_AREA_BYTES - 512, p.get(), 10, recorder()), -1);
    EXPECT_TRUE(m_calls.empty());
    // Exactly the largest text fits, in all eight copies.
    EXPECT_EQ(write_rk_parm_to(m_dev.c_str(), 0x400000, RK_PARM_AREA_BYTES, p.get(), RK_PARM_MAX_TEXT, recorder()), 0);
    EXPECT_EQ(m_calls.size(), 8u);
    // A short device write is a failure (negative), and it stops at once.
    m_calls.clear();
    rewind(p.get());
    EXPECT_LT(write_rk_parm_to(m_dev.c_str(), 0x400000, RK_PARM_AREA_BYTES, p.get(), 100, recorder(1)), 0);
    EXPECT_EQ(m_calls.size(), 2u);
}

// Every copy as rkcrc (rkflashtool) builds the block, not as our CRC would:
// a realistic file through the device layer, and one at the size limit.
TEST_F(RkBootWrite, ParameterCopiesMatchRkcrc)
{
    if (!haveTool("rkcrc"))
        GTEST_SKIP() << "rkcrc (rkflashtool) is not installed";
    const std::string text = "FIRMWARE_VER:8.1\nMANUFACTURER:RK3399\nMACHINE_MODEL:RK3399\n"
                             "CMDLINE:mtdparts=rk29xxnand:0x00002000@0x00002000(uboot),-@0x0001c000(rootfs:grow)\n";
    const std::vector<uint8_t> pat = patternBytes(RK_PARM_MAX_TEXT, 7);
    const int64_t off = RK_PARM_START * 512;
    for (const std::string &t : {text, std::string(pat.begin(), pat.end())}) {
        SCOPED_TRACE(t.size());
        FilePtr f = source("parameter.txt", t);
        ASSERT_EQ(run("rkcrc -p " + shq(m_dir.file("parameter.txt")) + " " + shq(m_dir.file("parm.bin"))).status, 0);
        ASSERT_EQ(fileSize(m_dir.file("parm.bin")), int64_t(t.size()) + 12);
        if (t == text) {
            ASSERT_GE(mmc_open(m_dev.c_str()), 0);
            EXPECT_EQ(0, write_rk_parm(m_dev.c_str(), off, RK_PARM_AREA_BYTES, f.get(), t.size(), "p", "parameter.txt",
                                       2, 2));
            EXPECT_EQ(mmc_release(), 0);
            mmc_reset_state_for_test();
        } else {
            m_calls.clear();
            ASSERT_EQ(write_rk_parm_to(m_dev.c_str(), off, RK_PARM_AREA_BYTES, f.get(), t.size(), recorder()), 0);
            ASSERT_EQ(m_calls.size(), 8u);
        }
        for (int i = 0; i < 8; i++) {
            EXPECT_EQ(cmpAt(m_dir.file("parm.bin"), 0, m_dev, off + i * RK_COPY_SIZE), "") << "copy " << i;
            EXPECT_TRUE(zeroAt(m_dev, off + i * RK_COPY_SIZE + t.size() + 12, RK_COPY_SIZE - t.size() - 12)) << i;
            if (!m_calls.empty())
                EXPECT_EQ(m_calls[i], Call(off + i * RK_COPY_SIZE, RK_COPY_SIZE));
        }
        EXPECT_TRUE(zeroAt(m_dev, off + RK_PARM_AREA_BYTES, 1 << 20));
    }
}

TEST_F(RkBootWrite, SecondBootWithAndWithoutHeader)
{
    ASSERT_GE(mmc_open(m_dev.c_str()), 0);
    BUFFER_SIZE = 4096;   // several chunks for the streamed rest
    std::vector<uint8_t> plain = patternBytes(24576, 3), signed_ = patternBytes(30000, 4);
    plain[0x1FC] = 0;   // not "NSIH"
    memcpy(&signed_[0x1FC], "NSIH", 4);
    const auto write2nd = [&](int64_t at, const std::vector<uint8_t> &bytes, int64_t announced) {
        FilePtr f = source("2nd.bin", bytes);
        return write_2nd_boot(m_dev.c_str(), at, 0, f.get(), announced, "2nd.bin", "2ndboot", 2, 1);
    };
    EXPECT_EQ(write2nd(512, plain, plain.size()), 0);
    EXPECT_EQ(write2nd(1 << 20, signed_, signed_.size()), 0);
    // A signed loader of one sector leaves nothing to stream.
    const std::vector<uint8_t> one(signed_.begin(), signed_.begin() + 512);
    EXPECT_EQ(write2nd(3 << 20, one, 512), 0);
    // A file shorter than announced fails in the streamed copy; a loader too
    // short to hold a header sector is refused.
    EXPECT_EQ(write2nd(2 << 20, plain, plain.size() + 5000), -1);
    EXPECT_EQ(write2nd(3 << 20, std::vector<uint8_t>(100, 1), 100), -1);
    EXPECT_EQ(mmc_release(), 0);
    mmc_reset_state_for_test();

    // Built header in front: load size in whole 8 KiB units with one to
    // spare (the file fills three, the header needs a fourth), load and
    // launch address, boot device 2, "NSIH"; then the file unchanged.
    const std::vector<uint8_t> hdr = readBytes(m_dev, 512, 512);
    const auto le32 = [&](size_t o) { return uint32_t(hdr[o]) | hdr[o + 1] << 8 | hdr[o + 2] << 16 | uint32_t(hdr[o + 3]) << 24; };
    EXPECT_EQ(std::make_tuple(le32(0x44), le32(0x48), le32(0x4C), hdr[0x50], le32(0x1FC)),
              std::make_tuple(0x8000u, 0x42C00000u, 0x42C00000u, uint8_t(2), 0x4849534Eu));
    EXPECT_EQ(readBytes(m_dev, 1024, plain.size()), plain);
    // A signed loader goes on the device as it is.
    EXPECT_EQ(readBytes(m_dev, 1 << 20, signed_.size()), signed_);
    EXPECT_EQ(readBytes(m_dev, 3 << 20, 512), one);
}

TEST_F(RkBootWrite, BuiltInLoaders)
{
    const std::string x = m_dir.file("x.img");
    EXPECT_EQ(gen_idbloader_img(nullptr, x.c_str()), -1);
    EXPECT_NE(access(x.c_str(), F_OK), 0) << "an unsupported SoC must leave no file";

    int present = 0;
    for (const char *soc : {"RK3566", "rk3328", "RK3399", "Rk3568", "rk3588", "RK3576", "rk3528"}) {
        uint32_t len = 0;
        const unsigned char *data = idbloader_builtin_find(soc, &len);
        const std::string out = m_dir.file(std::string(soc) + ".img");
        if (!data || len == 0) {
            EXPECT_EQ(gen_idbloader_img(soc, out.c_str()), -1) << soc;
            EXPECT_NE(access(out.c_str(), F_OK), 0) << soc;
            continue;
        }
        present++;
        writeFile(out, std::string(len + 1000, 'z'));   // truncated, not overwritten in place
        ASSERT_EQ(gen_idbloader_img(soc, out.c_str()), 0) << soc;
        EXPECT_EQ(readFile(out), std::string(reinterpret_cast<const char *>(data), len)) << soc;
        EXPECT_EQ(gen_idbloader_img(soc, m_dir.file("missing/dir/x.img").c_str()), -2);
        if (access("/dev/full", W_OK) == 0)
            EXPECT_EQ(gen_idbloader_img(soc, "/dev/full"), -3);
    }
    if (present == 0)
        GTEST_SKIP() << "this build embeds no IDB loader (firmware/idbloader is empty)";
}

// Parameter text parsing and UUID lines. The GPT layout of a parameter file
// is read back from the device by the e2e case rk-gpt.
// Name, start+size, fs_type, index and image of each record, a line each.
std::string records(const Parsed &r)
{
    std::string s;
    for (int i = 0; i < r.count; i++) {
        const partinfo &p = r.parts[i];
        char line[PATH_MAX + 100];
        snprintf(line, sizeof line, "%s %lld+%lld 0x%x #%d %s\n", nameOf(p).c_str(), static_cast<long long>(p.start),
                 static_cast<long long>(p.size), p.fs_type, p.index, p.image);
        s += line;
    }
    return s;
}

TEST(RkParm, LegacyLayoutNameTruncationAndSuffixes)
{
    TempDir d;
    writeFile(d.file("rootfs.img"), "x");
    const std::string text = "CMDLINE: mtdparts=rk29xxnand:-@0x00004000(rootfs)\n";
    EXPECT_EQ(records(parse(text, d.path(), 6)), "idbloader.img 64+5120 0x10000 #0 " + d.path() + "/idbloader.img\n"
                                                 "parameter.txt 8192+8192 0x20000 #1 " + d.path() + "/parameter.txt\n"
                                                 "rootfs 24576+0 0x40000 #2 " + d.path() + "/rootfs.img\n");
    // The parameter area's image is the rewritten file when one is given.
    const Parsed q = parse(text, d.path(), 6, "/x/parameter-sys.txt");
    ASSERT_EQ(q.count, 3);
    EXPECT_STREQ(q.parts[1].image, "/x/parameter-sys.txt");

    // Names are cut at 32 characters; both suffixes are taken off.
    const Parsed r = parse("CMDLINE:mtdparts=x:0x10@0x300(" + std::string(40, 'n') + "),0x10@0x400(c:grow:bootable)",
                           d.path(), RKPARM_MODE_GPT);
    ASSERT_EQ(r.count, 3) << r.out;
    EXPECT_EQ(nameOf(r.parts[1]), std::string(32, 'n'));
    EXPECT_EQ(nameOf(r.parts[2]), "c");
    EXPECT_EQ(r.parts[2].bootable, 1);
}

TEST(RkParm, MalformedAndHostileInput)
{
    TempDir d;
    EXPECT_EQ(parse("MANUFACTURER: RK\nmtdparts=x:0x10@0x10(a)\n", d.path(), 6).count, -EINVAL);
    // No partition list: just the fixed areas.
    EXPECT_EQ(parse("CMDLINE: console=ttyS2\nmtdparts=x:0x10@0x10(a)\n", d.path(), 6).count, 2);
    EXPECT_EQ(parse("CMDLINE: console=ttyS2\n", d.path(), RKPARM_MODE_GPT).count, 1);
    EXPECT_EQ(parse("CMDLINE: mtdparts=x:\n", d.path(), RKPARM_MODE_GPT).count, 1);
    // An unterminated last definition stops the list before it.
    EXPECT_EQ(parse("CMDLINE: mtdparts=x:0x10@0x10(a),0x10@0x20(b", d.path(), RKPARM_MODE_GPT).count, 2);

    // Definitions that cannot be read are refused, not guessed at.
    for (const char *bad : {"CMDLINE: mtdparts=x:0x10(a)", "CMDLINE: mtdparts=x:zz@0x10(a)",
                            "CMDLINE: mtdparts=x:0x10@(a)", "CMDLINE: mtdparts=x:0x10@0x20a)",
                            "CMDLINE: mtdparts=x:0x100000000@0x10(a)", "CMDLINE: mtdparts=x:0x10@0x10()",
                            "CMDLINE: mtdparts=x:0x10@0x10(../../etc/shadow)", "CMDLINE: mtdparts=x:0x10@0x10(..)"}) {
        const Parsed r = parse(bad, d.path(), RKPARM_MODE_GPT);
        EXPECT_EQ(r.count, -1) << bad;
        EXPECT_NE(r.out.find("** Fail"), std::string::npos) << bad;
    }

    // Overlaps: same start, start inside, and an earlier start inside the new one.
    for (const char *ov : {"CMDLINE: mtdparts=x:0x100@0x1000(a),0x100@0x1000(b)",
                           "CMDLINE: mtdparts=x:0x100@0x1000(a),0x100@0x10ff(b)",
                           "CMDLINE: mtdparts=x:0x100@0x1000(a),0x1000@0x800(b)"}) {
        const Parsed r = parse(ov, d.path(), RKPARM_MODE_GPT);
        EXPECT_EQ(r.count, -1) << ov;
        EXPECT_NE(r.out.find("** Fail: overlapped part b (0x"), std::string::npos) << r.out;
    }
    // Adjacent partitions do not overlap; a grow partition occupies nothing
    // past its start, but a later partition must not start before it either.
    EXPECT_EQ(parse("CMDLINE: mtdparts=x:0x100@0x1000(a),0x100@0x1100(b),-@0x1200(g)", d.path(), 5).count, 4);
    EXPECT_EQ(parse("CMDLINE: mtdparts=x:0x100@0x1000(a),-@0x1100(g),0x100@0x1100(b)", d.path(), 5).count, -1);
    // In legacy mode the parameter area itself is taken: offset 0 overlaps it.
    const Parsed p = parse("CMDLINE: mtdparts=x:0x100@0x0(a)", d.path(), 6);
    EXPECT_EQ(p.count, -1);
    EXPECT_NE(p.out.find("overlapped part a (0x2000 < 0x4000)"), std::string::npos) << p.out;

    // More definitions than records: refused instead of writing past them.
    std::string many = "CMDLINE: mtdparts=x:";
    for (int i = 0; i < 40; i++)
        many += (i ? "," : "") + std::string("0x10@0x") + std::to_string(1000 + i * 100) + "(p" + std::to_string(i) + ")";
    const Parsed m = parse(many, d.path(), RKPARM_MODE_GPT);
    EXPECT_EQ(m.count, -1);
    EXPECT_NE(m.out.find("too many parts"), std::string::npos);
    EXPECT_EQ(parse("CMDLINE: mtdparts=x:0x10@0x100(a),0x10@0x200(b)", d.path(), 5, nullptr, 2).count, -1);
}

TEST(RkParm, UuidLines)
{
    TempDir d;
    Parsed r = parse("CMDLINE: mtdparts=x:0x10@0x100(bootloader),0x10@0x200(boot),-@0x300(rootfs)", d.path(),
                     RKPARM_MODE_GPT);
    ASSERT_EQ(r.count, 4);
    const std::string u = "614e0000-0000-4b53-8000-1d28000054a9";
    std::string out;
    const auto uuid = [&](const std::string &line) {
        testing::internal::CaptureStdout();
        const int n = rkparm_uuid_parse(line.c_str(), r.parts.data(), r.count);
        out = testing::internal::GetCapturedStdout();
        return n;
    };
    EXPECT_EQ(uuid("rootfs=" + u + "\r\n"), 1);
    EXPECT_EQ(out, "rootfs: " + u + "\n");
    EXPECT_EQ(std::string(r.parts[3].uuid), u);
    // An exact name wins over an earlier record it is a prefix of.
    EXPECT_EQ(uuid("boot=" + u), 1);
    EXPECT_STREQ(r.parts[1].uuid, "");
    EXPECT_EQ(std::string(r.parts[2].uuid), u);
    // Otherwise a prefix matches; only 36 characters are taken.
    EXPECT_EQ(uuid("bootl=" + u + "ffff"), 1);
    EXPECT_EQ(std::string(r.parts[1].uuid), u);
    for (const std::string &none : {"userdata=" + u, std::string("rootfs"), "=" + u})
        EXPECT_EQ(uuid(none), 0) << none;
    EXPECT_EQ(rkparm_uuid_parse(("rootfs=" + u).c_str(), r.parts.data(), 0), 0);
}

