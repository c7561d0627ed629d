// Parameter text parsing and UUID lines. The GPT layout of a parameter file
// is read back from the device by the e2e case rk-gpt; the parameter block
// and its CRC are checked against rkcrc in rkbootwrite_test.cpp.
#include "storage/rkparm.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

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

TEST(RkParm, LegacyLayoutIsRelativeToParameterArea)
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
}

TEST(RkParm, NameTruncationAndBothSuffixes)
{
    TempDir d;
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
    testing::internal::CaptureStdout();
    EXPECT_EQ(rkparm_uuid_parse(("rootfs=" + u + "\r\n").c_str(), r.parts.data(), r.count), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "rootfs: " + u + "\n");
    EXPECT_EQ(std::string(r.parts[3].uuid), u);

    // An exact name wins over an earlier record it is a prefix of.
    testing::internal::CaptureStdout();
    EXPECT_EQ(rkparm_uuid_parse(("boot=" + u).c_str(), r.parts.data(), r.count), 1);
    testing::internal::GetCapturedStdout();
    EXPECT_STREQ(r.parts[1].uuid, "");
    EXPECT_EQ(std::string(r.parts[2].uuid), u);
    // Otherwise a prefix matches; only 36 characters are taken.
    testing::internal::CaptureStdout();
    EXPECT_EQ(rkparm_uuid_parse(("bootl=" + u + "ffff").c_str(), r.parts.data(), r.count), 1);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::string(r.parts[1].uuid), u);

    EXPECT_EQ(rkparm_uuid_parse(("userdata=" + u).c_str(), r.parts.data(), r.count), 0);
    EXPECT_EQ(rkparm_uuid_parse("rootfs", r.parts.data(), r.count), 0);
    EXPECT_EQ(rkparm_uuid_parse(("=" + u).c_str(), r.parts.data(), r.count), 0);
    EXPECT_EQ(rkparm_uuid_parse(("rootfs=" + u).c_str(), r.parts.data(), 0), 0);
}

