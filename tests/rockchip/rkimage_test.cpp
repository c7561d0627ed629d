// RKFW/RKAF firmware packages built by an independent writer (mkrkfw.py),
// unpacked by our code and, where valid, compared with rkunpack; the
// file-system helpers around unpacking and the raw device access functions.
#include "storage/rkimage.h"
#include "storage/rkparm.h"
#include "support/simroot.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <tuple>
#include <sys/stat.h>
#include <unistd.h>

using namespace testsupport;

namespace {

// The distribution's interpreter starts faster than version-manager shims.
std::string python()
{
    return access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
}

class RkPackage : public testing::Test
{
protected:
    void SetUp() override
    {
        if (!haveTool(python()))
            GTEST_SKIP() << "python3 is needed for the package writer";
        run("mkdir -p " + shq(out()));
    }

    std::string out() const { return m_work.file("work/out"); }
    std::string log() const { return m_root.log(); }

    // Builds a package from a JSON description with the independent writer.
    std::string make(const std::string &json, const std::string &name = "fw.img")
    {
        writeFile(m_work.file("layout.json"), json);
        const std::string path = m_work.file(name);
        const CmdResult r = run(python() + " " + shq(MKRKFW_PY) + " " + shq(m_work.file("layout.json")) + " " + shq(path));
        EXPECT_EQ(r.status, 0) << r.err;
        return path;
    }

    // Every file below `dir`, one relative path per line, sorted.
    static std::string tree(const std::string &dir)
    {
        return run("cd " + shq(dir) + " && find . -mindepth 1 | sort").out;
    }

    int unpackUpdate(const std::string &path, std::string *err)
    {
        testing::internal::CaptureStderr();
        const int r = unpack_update(path.c_str(), out().c_str());
        *err = testing::internal::GetCapturedStderr();
        return r;
    }

    SimRoot m_root;   // the log goes below it, where the test reads it
    TempDir m_work;
};

const char *k_param = "FIRMWARE_VER:1.0\\nMACHINE_MODEL:RK3399\\nTYPE: GPT\\n"
                      "CMDLINE: mtdparts=rk29xxnand:0x2000@0x4000(uboot),-@0x8000(rootfs:grow)\\n";

std::string validEntries()
{
    return std::string("[{\"name\":\"parameter\",\"file\":\"parameter.txt\",\"parameter\":true,\"data\":\"") + k_param +
           "\"},"
           "{\"name\":\"package-file\",\"file\":\"package-file\",\"data\":\"package-file package-file\\nparameter "
           "parameter.txt\\nuboot Image/uboot.img\\n\"},"
           "{\"name\":\"uboot\",\"file\":\"Image/uboot.img\",\"size\":5000},"
           "{\"name\":\"rootfs\",\"file\":\"Image/sub/rootfs.img\",\"size\":70000},"
           "{\"name\":\"backup\",\"file\":\"SELF\"}]";
}

} // namespace

TEST_F(RkPackage, ValidPackageUnpacksLikeRkunpack)
{
    if (!haveTool("rkunpack"))
        GTEST_SKIP() << "rkunpack (rkflashtool) is not installed";
    for (const char *digest : {"lower", "upper"}) {
        SCOPED_TRACE(digest);
        run("rm -rf " + shq(m_work.file("work")) + " " + shq(m_work.file("peer")) + "; mkdir -p " + shq(out()) +
            " " + shq(m_work.file("peer")));
        const std::string fw = make("{\"entries\":" + validEntries() + ",\"rkfw\":{\"digest\":\"" + digest + "\"}}");
        const std::string payload = m_work.file("work/unpack.img");
        ASSERT_EQ(unpack_rom(fw.c_str(), payload.c_str()), 0) << log();
        for (const char *line : {"rom version: 8.1.203\n", "build time: 2024-05-17 09:30:45\n", "checking md5sum....OK\n"})
            EXPECT_NE(log().find(line), std::string::npos) << line << log();
        std::string err;
        ASSERT_EQ(unpackUpdate(payload, &err), 0) << err;
        EXPECT_EQ(err, "");

        // The peer: rkunpack on the package, then on the payload it finds.
        const std::string peer = m_work.file("peer");
        ASSERT_EQ(run("cp " + shq(fw) + " " + shq(peer + "/fw.img") + " && cd " + shq(peer) +
                      " && rkunpack fw.img && rkunpack embedded-update.img")
                      .status,
                  0);
        EXPECT_EQ(run("cmp " + shq(payload) + " " + shq(peer + "/embedded-update.img")).status, 0);
        EXPECT_EQ(tree(out()), "./Image\n./Image/sub\n./Image/sub/rootfs.img\n./Image/uboot.img\n./package-file\n"
                               "./parameter.txt\n");
        for (const char *f : {"parameter.txt", "package-file", "Image/uboot.img", "Image/sub/rootfs.img"})
            EXPECT_EQ(run("cmp " + shq(out() + "/" + f) + " " + shq(peer + "/" + f)).status, 0) << f;
        EXPECT_NE(log().find("Skip SELF file.\n"), std::string::npos);
    }
}

// Each damaged package is refused with its message, and nothing is
// extracted: not the payload of an RKFW file, not even the sound entries of
// an update image, and nothing above the output directory.
TEST_F(RkPackage, Refusals)
{
    const std::string entries = "{\"entries\":" + validEntries();
    const off_t size = fileSize(make(entries + ",\"rkfw\":{}}", "full.img"));
    const std::string abs = m_work.file("abs-target.img");
    // A file name that fills its 60-byte field has no NUL after it.
    const std::string longName(60, 'p');
    const std::string sound = "{\"name\":\"ok\",\"file\":\"Image/ok.img\",\"size\":3000},"
                              "{\"name\":\"dots\",\"file\":\"a..b/..c\",\"size\":10},"
                              "{\"name\":\"long\",\"file\":\"" + longName + "\",\"size\":10}";
    // unpack_rom on an RKFW file (else unpack_update); the layout ("" for a
    // file that does not exist); a text of the messages or the log.
    std::vector<std::tuple<bool, std::string, std::string>> cases = {
        {true, entries + "}", "The file is not a rockchip firmware format file: "},
        {true, entries + ",\"rkfw\":{\"digest\":\"bad\"}}", "Not match!\n"},
        {true, "", "Can't open file " + m_work.file("fw.img")},
        {false, entries + ",\"bad_crc\":true}", "Check file...Fail\n"},
        {false, entries + ",\"truncate\":20000}", "Can't read crc checksum\n"},
        {false, "{\"entries\":[],\"truncate\":2000}", "Can't read image header\n"},
        // More than 16 entries: the table cannot hold them.
        {false, entries + ",\"num_parts\":17}", "Invalid entry count 17 (at most 16)\n"},
        {false, "{\"entries\":[],\"num_parts\":4294967295}", ""},
        {false, "{\"entries\":[],\"rkfw\":{}}", "Invalid header magic\n"},
    };
    // Cut inside the digest, inside the payload, inside the header.
    for (off_t cut : {size - 1, size - 32 - 100, off_t(50)})
        cases.push_back({true, entries + ",\"rkfw\":{\"truncate\":" + std::to_string(cut) + "}}", ""});
    for (const std::string &bad : std::vector<std::string>{"\"escape\",\"file\":\"../escaped.img\",\"size\":100",
                                   "\"deep\",\"file\":\"Image/../../../deep.img\",\"size\":100",
                                   "\"absolute\",\"file\":\"" + abs + "\",\"size\":100",
                                   "\"empty\",\"file\":\"\",\"size\":10",
                                   "\"past\",\"file\":\"past.img\",\"size\":100,\"offset\":1000000",
                                   "\"wrap\",\"file\":\"w.img\",\"size\":32,\"offset\":4294967280",
                                   "\"parameter\",\"file\":\"parameter.txt\",\"hex\":\"0102030405\""})
        cases.push_back({false, "{\"entries\":[" + sound + ",{\"name\":" + bad + "}]}",
                         "Invalid part: " + bad.substr(1, bad.find('"', 1) - 1) + "\n"});
    for (const auto &[rkfw, json, text] : cases) {
        SCOPED_TRACE(json);
        unlink(m_work.file("fw.img").c_str());
        const std::string pkg = json.empty() ? m_work.file("fw.img") : make(json);
        const size_t logBefore = log().size();
        std::string err;
        if (rkfw) {
            testing::internal::CaptureStderr();
            EXPECT_EQ(unpack_rom(pkg.c_str(), m_work.file("work/unpack.img").c_str()), -1);
            err = testing::internal::GetCapturedStderr();
        } else {
            EXPECT_EQ(unpackUpdate(pkg, &err), -1);
        }
        EXPECT_NE((err + log().substr(logBefore)).find(text), std::string::npos) << err << log();
        EXPECT_EQ(tree(m_work.file("work")), "./out\n");
    }
    for (const std::string &escaped : {abs, m_work.file("escaped.img"), m_work.file("deep.img")})
        EXPECT_EQ(fileSize(escaped), -1) << escaped;
    // An output that cannot be created.
    EXPECT_EQ(unpack_rom(make(entries + ",\"rkfw\":{}}").c_str(), m_work.file("no/such/dir/unpack.img").c_str()), -1);
    EXPECT_NE(log().find("can't open output file"), std::string::npos);

    // Zero entries: the CRC checks and nothing is extracted. Without the bad
    // entries the same sound ones are extracted whole.
    std::string err;
    EXPECT_EQ(unpackUpdate(make("{\"entries\":[]}"), &err), 0);
    EXPECT_EQ(tree(out()), "");
    ASSERT_EQ(unpackUpdate(make("{\"entries\":[" + sound + "]}"), &err), 0);
    EXPECT_EQ(tree(out()), "./Image\n./Image/ok.img\n./a..b\n./a..b/..c\n./" + longName + "\n");
    EXPECT_EQ(readFile(out() + "/Image/ok.img").size(), 3000u);
}

TEST_F(RkPackage, EntryNamedLikeItsContainerIsRefused)
{
    // The payload is unpacked into the output directory and an entry of the
    // same name would truncate the file being read.
    const std::string pkg = make("{\"entries\":[{\"name\":\"x\",\"file\":\"unpack.img\",\"size\":4000},"
                                 "{\"name\":\"y\",\"file\":\"y.img\",\"size\":4000}]}");
    const std::string inside = out() + "/unpack.img";
    ASSERT_EQ(run("cp " + shq(pkg) + " " + shq(inside)).status, 0);
    std::string err;
    ASSERT_EQ(unpackUpdate(inside, &err), -1);
    EXPECT_EQ(err, "Invalid part: x\n");
    EXPECT_EQ(run("cmp " + shq(pkg) + " " + shq(inside)).status, 0);
    EXPECT_NE(access((out() + "/y.img").c_str(), F_OK), 0);
}

TEST(RkAfHeader, UnsafeFileNames)
{
    for (const char *bad : {"", "/etc/passwd", "..", "../x", "a/../../x", "a/..", "dir/"})
        EXPECT_FALSE(rkaf_file_name_is_safe(bad)) << bad;
    for (const char *ok : {"a", "Image/boot.img", "..a", "a..", "./a", "a/.../b"})
        EXPECT_TRUE(rkaf_file_name_is_safe(ok)) << ok;
}

TEST(RkHost, CreateDirMakesOnlyTheParentsRemoveDirectoryFollowsNoLinks)
{
    TempDir d;
    // No umask: the mode is the one asked for, not what the usual 022 leaves.
    const mode_t mask = umask(0);
    EXPECT_EQ(create_dir(d.file("a/b/c/file.img").c_str()), 0);
    umask(mask);
    struct stat st;
    ASSERT_EQ(stat(d.file("a/b/c").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    EXPECT_NE(stat(d.file("a/b/c/file.img").c_str(), &st), 0);
    EXPECT_EQ(create_dir(d.file("a/b/c/other.img").c_str()), 0);   // existing parents are fine
    writeFile(d.file("plain"), "x");
    EXPECT_EQ(create_dir(d.file("plain/sub/f").c_str()), -1);

    // Removing a tree does not follow its links.
    run("mkdir -p " + shq(d.file("victim")) + " " + shq(d.file("tree/a/b")));
    writeFile(d.file("victim/keep"), "precious");
    writeFile(d.file("tree/a/b/f"), "1");
    writeFile(d.file("tree/top"), "2");
    ASSERT_EQ(symlink(d.file("victim").c_str(), d.file("tree/a/link").c_str()), 0);
    ASSERT_EQ(symlink("/nonexistent", d.file("tree/dangling").c_str()), 0);
    EXPECT_EQ(remove_directory(d.file("tree").c_str()), 0);
    EXPECT_NE(lstat(d.file("tree").c_str(), &st), 0);
    EXPECT_EQ(readFile(d.file("victim/keep")), "precious");
    EXPECT_NE(remove_directory(d.file("tree").c_str()), 0);
}

TEST(RkHost, GlobalMmcAndStreamCrcOnRegularFiles)
{
    TempDir d;
    const std::string dev = d.file("mmc");
    makeSparseFile(dev, 1 << 20);
    EXPECT_EQ(global_mmc_open(d.file("missing").c_str()), -ENOENT);
    EXPECT_EQ(global_mmc_read(d.file("missing").c_str(), 0, 16, nullptr), -ENOENT);

    const int fd = global_mmc_open(dev.c_str());
    ASSERT_GE(fd, 0);
    const std::vector<uint8_t> data = patternBytes(4096, 5);
    EXPECT_EQ(global_mmc_write(fd, dev.c_str(), 0x88000, data.size(), data.data()), 4096);
    EXPECT_EQ(global_mmc_write(fd, dev.c_str(), -512, data.size(), data.data()), -1);
    EXPECT_EQ(global_mmc_release(fd), 0);
    EXPECT_EQ(readBytes(dev, 0x88000, data.size()), data);

    std::vector<uint8_t> back(4096);
    EXPECT_EQ(global_mmc_read(dev.c_str(), 0x88000, back.size(), back.data()), 4096);
    EXPECT_EQ(back, data);
    // Reading past the end returns what is there.
    EXPECT_EQ(global_mmc_read(dev.c_str(), (1 << 20) - 100, back.size(), back.data()), 100);
    EXPECT_EQ(global_mmc_release(0), 0);

    // The CRC of a stream starts at its position; a length past the end
    // stops at the end.
    writeFile(d.file("f"), "xx123456789");
    FILE *f = fopen(d.file("f").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(fseek(f, 2, SEEK_SET), 0);
    EXPECT_EQ(filestream_crc(f, 9), 0x889A9615u);
    EXPECT_EQ(filestream_crc(f, 0), 0u);
    ASSERT_EQ(fseek(f, 2, SEEK_SET), 0);
    EXPECT_EQ(filestream_crc(f, 5000), 0x889A9615u);
    fclose(f);
}

TEST(RkHost, AvailableSpaceAgreesWithStat)
{
    SimRoot d;
    const int64_t mb = get_available_disksize_mb();
    // stat -f reports the same statfs fields: available blocks and block size.
    const CmdResult r = run("stat -f -c '%a %S' " + shq(d.path()) + " | awk '{ printf \"%d\\n\", $1 * $2 / 1048576 }'");
    ASSERT_EQ(r.status, 0);
    // Other processes may use the file system meanwhile: allow a little drift.
    EXPECT_NEAR(static_cast<double>(mb), std::stod(r.out), 64.0);
    EXPECT_GE(mb, 0);
}
