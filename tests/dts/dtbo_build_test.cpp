// build_dtbo_img end to end on a simulated root: real dtc, a mkdtimg
// stand-in writing a real DT table image, the image taken apart and every
// overlay read back with fdtget; and every result code provoked.
#include "dts/dtbo.h"
#include "support/simroot.h"
#include "util/paths.h"

#include <gtest/gtest.h>

#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace testsupport;

namespace {

uint32_t be32(const std::string &b, size_t off)
{
    return (uint32_t(uint8_t(b[off])) << 24) | (uint32_t(uint8_t(b[off + 1])) << 16)
        | (uint32_t(uint8_t(b[off + 2])) << 8) | uint8_t(b[off + 3]);
}

// The overlays inside an Android DT table image; fails the test on a
// malformed table.
std::vector<std::string> dtTableEntries(const std::string &img)
{
    std::vector<std::string> blobs;
    EXPECT_GE(img.size(), 32u);
    if (img.size() < 32)
        return blobs;
    EXPECT_EQ(be32(img, 0), 0xd7b7ab1eu);
    EXPECT_EQ(be32(img, 4), img.size());       // total size
    const uint32_t entrySize = be32(img, 12), count = be32(img, 16), entries = be32(img, 20);
    EXPECT_EQ(entrySize, 32u);
    for (uint32_t i = 0; i < count; i++) {
        const size_t e = entries + size_t(entrySize) * i;
        EXPECT_LE(e + 8, img.size());
        if (e + 8 > img.size())
            break;
        const uint32_t size = be32(img, e), off = be32(img, e + 4);
        EXPECT_LE(size_t(off) + size, img.size());
        if (size_t(off) + size > img.size())
            break;
        blobs.push_back(img.substr(off, size));
        EXPECT_EQ(be32(blobs.back(), 0), 0xd00dfeedu);   // a flattened device tree
    }
    return blobs;
}

std::string overlayArgs(const TempDir &d, const std::string &blob)
{
    const std::string f = d.file("entry.dtbo");
    writeFile(f, blob);
    std::string s = run("fdtget " + shq(f) + " /fragment@0/__overlay__ bootargs_ext").out;
    while (!s.empty() && s.back() == '\n')
        s.pop_back();
    return s;
}

// A directory whose absolute path is exactly `len` characters, built one
// component at a time (the whole path may be longer than a syscall accepts).
std::string makeDirOfLength(const std::string &base, size_t len)
{
    std::string path = base;
    int fd = open(base.c_str(), O_RDONLY | O_DIRECTORY);
    while (fd >= 0 && path.size() < len) {
        const size_t room = len - path.size() - 1;   // minus the '/'
        const size_t n = room > 200 ? (room - 200 < 2 ? 150 : 200) : room;
        const std::string name(n, 'd');
        path += "/" + name;
        if (mkdirat(fd, name.c_str(), 0755) != 0)
            break;
        const int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
        close(fd);
        fd = next;
    }
    if (fd >= 0)
        close(fd);
    return path;
}

class DtboBuild : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_savedPath = getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin";
        m_bin = m_dir.file("bin");
        ASSERT_EQ(run("mkdir -p " + shq(m_bin) + " && ln -s " + shq(std::string(DTS_TEST_DIR) + "/mkdtimg")
                      + " " + shq(m_bin + "/mkdtimg")).status, 0);
        setRoot(m_dir.file("sim"));
        m_sim.setEnv("PATH", m_bin + ":" + m_savedPath);
        if (!haveTool("dtc") || !haveTool("fdtget"))
            GTEST_SKIP() << "dtc/fdtget not installed (device-tree-compiler)";
    }
    void setRoot(const std::string &root)
    {
        m_root = root;
        run("mkdir -p " + shq(root + "/tmp") + " " + shq(root + "/mnt/sdcard/set"));
        m_sim.setEnv("IMGSMITH_ROOT", root);
    }
    std::string out() const { return m_root + "/mnt/sdcard/set/dtbo.img"; }
    std::string log() const { return readFile(m_root + "/tmp/imgsmith-gui.log"); }
    // Entries of the simulated /tmp other than the log file.
    std::string tmpEntries() const
    {
        return run("ls -A " + shq(m_root + "/tmp") + " | grep -v '^imgsmith-gui.log$'").out;
    }
    // With the user's devices and arguments (the install job's form), or
    // without any (the selection screen's: each variant's default devices).
    int build(const QString &cpu, const std::string &outPath, bool useMain = false, bool user = true)
    {
        return build_dtbo_img(cpu, QString::fromStdString(outPath), useMain, user ? "/dev/nvme0n1p1" : "",
                              user ? "/dev/nvme0n1p2" : "", user ? QMap<QString, QString>{{"bootdev", "mmc0"}}
                                                                 : QMap<QString, QString>{},
                              {}, false);
    }
    // Replaces a program of the test's bin directory (the link to the
    // stand-in goes first, so the source file is never written through it).
    void standIn(const std::string &name, const std::string &script)
    {
        unlink((m_bin + "/" + name).c_str());
        writeExecutable(m_bin + "/" + name, script);
    }

    SimRoot m_sim;
    TempDir m_dir;
    std::string m_root, m_bin, m_savedPath;
};

const std::string kMerged0 = "cgroup_enable=memory cgroup_memory=1 consoleblank=0 data=/dev/nvme0n1p2 "
                             "root=/dev/nvme0n1p1 rootflags=discard rootfstype=ext4 rw bootdev=mmc0";
const std::string kMerged1 = "cgroup_enable=memory cgroup_memory=1 consoleblank=0 data=/dev/nvme0n1p2 "
                             "root=/dev/nvme0n1p1 rootfstype=ext4 rw bootdev=mmc0";

} // namespace

// Every variant of every SoC, its overlays compiled by the real dtc and read
// back with fdtget. Both the work directory (below the root) and the output
// directory carry spaces, quotes, ';', '$(...)' and backquotes: they must
// stay paths.
TEST_F(DtboBuild, ImageForEveryVariantInHostilelyNamedDirectoriesTakenApartWithFdtget)
{
    const std::string evil = "a b'c\";d$(touch PWNED)`touch PWNED2`";
    setRoot(m_dir.file("root " + evil));
    const std::string target = m_root + "/mnt/sdcard/set " + evil + "/dtbo.img";
    ASSERT_EQ(run("mkdir " + shq(m_root + "/mnt/sdcard/set " + evil)).status, 0);
    const std::string cgroup = " cgroup_enable=cpuset cgroup_memory=1 cgroup_enable=memory";
    const std::string m2 = "root=/dev/mmcblk2p8 rw rootfstype=ext4 rootflags=discard data=/dev/mmcblk2p9 ";
    const std::string m0 = "root=/dev/mmcblk0p8 rw rootfstype=ext4 data=/dev/mmcblk0p9 ";
    const std::string m1 = "root=/dev/mmcblk1p8 rw rootfstype=ext4 data=/dev/mmcblk1p9 ";
    const std::string ufs = "root=/dev/sda8 rw rootfstype=ext4 rootflags=discard data=/dev/sda9 ";
    const std::string fiq = "console=ttyFIQ0 consoleblank=0" + cgroup;
    const std::string blank = "consoleblank=0" + cgroup;
    const std::string s3328 = "console=ttyS2,1500000 earlycon=uart8250,mmio32,0xff130000 consoleblank=0" + cgroup;
    const std::string s3399 = "cgroup_enable=memory cgroup_memory=1 console=ttyS2,1500000 consoleblank=0 "
                              "data=/dev/nvme0n1p2 earlycon=uart8250,mmio32,0xff1a0000 root=/dev/nvme0n1p1 ";
    const std::string fiqMerged = "cgroup_enable=memory cgroup_memory=1 console=ttyFIQ0 consoleblank=0 "
                                  "data=/dev/nvme0n1p2 root=/dev/nvme0n1p1 ";
    struct Case
    {
        const char *cpu;
        bool useMain, user, rebootModes;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"rk3576", false, true, false, {kMerged0, kMerged1, kMerged0}},
        {"rk3576", false, false, false, {m2 + blank, m0 + blank, ufs + blank}},
        {"RK3566", false, false, true, {m2 + blank, m0 + blank}},
        {"rk3568", false, true, true, {kMerged0, kMerged1}},
        {"Rk3588", false, false, true, {m2 + blank, m0 + blank}},
        {"rk3528", false, true, true, {kMerged0, kMerged1}},
        {"rk3399", true, true, true,
         {s3399 + "rootflags=discard rootfstype=ext4 rw bootdev=mmc0", s3399 + "rootfstype=ext4 rw bootdev=mmc0"}},
        {"rk3399", false, false, false, {m2 + fiq, m1 + fiq}},
        {"RK3328", false, true, false,
         {fiqMerged + "rootflags=discard rootfstype=ext4 rw bootdev=mmc0", fiqMerged + "rootfstype=ext4 rw bootdev=mmc0"}},
        {"rk3328", true, false, false, {m2 + s3328, m0 + s3328}},
    };
    // One fdtget for all reboot modes: normal, fastboot, recovery, bootloader, charge, loader.
    std::string modes;
    for (const char *m : {"normal", "fastboot", "recovery", "bootloader", "charge", "loader"})
        modes += std::string(" /fragment@1/__overlay__ mode-") + m;
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.cpu) + (c.useMain ? " main" : "") + (c.user ? " user" : ""));
        unlink(target.c_str());
        ASSERT_EQ(build(c.cpu, target, c.useMain, c.user), DTBO_OK) << log();
        const std::vector<std::string> blobs = dtTableEntries(readFile(target));
        ASSERT_EQ(blobs.size(), c.expected.size());
        for (size_t i = 0; i < blobs.size(); i++) {
            EXPECT_EQ(overlayArgs(m_dir, blobs[i]), c.expected[i]) << " entry " << i;
            const std::string blob = shq(m_dir.file("entry.dtbo"));
            if (!c.rebootModes) {
                EXPECT_EQ(run("fdtget -l " + blob + " /").out, "fragment@0\n__fixups__\n");
                continue;
            }
            EXPECT_EQ(run("fdtget -t x " + blob + modes).out, "5242c300\n5242c303\n5242c303\n5242c309\n5242c30b\n5242c301\n");
            EXPECT_EQ(run("fdtget " + blob + " /__fixups__ reboot_mode").out, "/fragment@1:target:0\n");
        }
        // The work directory is gone after success.
        EXPECT_EQ(tmpEntries(), "");
    }
    EXPECT_EQ(run("find " + shq(m_dir.path()) + " . -name 'PWNED*'").out, "");
}

TEST_F(DtboBuild, MissingToolsAndUnsupportedCpu)
{
    const std::string empty = m_dir.file("empty");
    ASSERT_EQ(mkdir(empty.c_str(), 0755), 0);
    const std::string onlyDtc = m_dir.file("onlydtc");
    ASSERT_EQ(run("mkdir " + shq(onlyDtc) + " && ln -s \"$(command -v dtc)\" " + shq(onlyDtc + "/dtc")).status, 0);
    m_sim.setEnv("PATH", empty);
    EXPECT_EQ(build("rk3568", out()), DTBO_NO_DTC);
    EXPECT_NE(log().find("dtbo: Command not found: dtc\n"), std::string::npos);

    m_sim.setEnv("PATH", onlyDtc);
    EXPECT_EQ(build("rk3568", out()), DTBO_NO_MKDTIMG);
    EXPECT_NE(log().find("dtbo: Command not found: mkdtimg\n"), std::string::npos);
    EXPECT_EQ(tmpEntries(), "");

    m_sim.setEnv("PATH", m_bin + ":" + m_savedPath);
    EXPECT_EQ(build("rk3308", out()), DTBO_UNSUPPORTED_CPU);
    EXPECT_NE(log().find("dtbo: Does not support CPU: rk3308\n"), std::string::npos);
    EXPECT_EQ(tmpEntries(), "");   // not even an empty work directory

    // No mkdtimg in PATH, one in /opt (unless a real one is installed, which
    // would hide the lookup).
    m_sim.setEnv("PATH", m_savedPath);
    ASSERT_EQ(run("mkdir -p " + shq(m_root + "/opt") + " && cp " + shq(std::string(DTS_TEST_DIR) + "/mkdtimg")
                  + " " + shq(m_root + "/opt/mkdtimg")).status, 0);
    if (!haveTool("mkdtimg")) {
        ASSERT_EQ(build("rk3568", out()), DTBO_OK) << log();
        const std::vector<std::string> blobs = dtTableEntries(readFile(out()));
        ASSERT_EQ(blobs.size(), 2u);
        EXPECT_EQ(overlayArgs(m_dir, blobs[0]), kMerged0);
    }

    // No /tmp below the root: the work directory cannot be made.
    m_sim.setEnv("PATH", m_bin + ":" + m_savedPath);
    setRoot(m_dir.file("bare"));
    ASSERT_EQ(run("rmdir " + shq(m_root + "/tmp")).status, 0);
    EXPECT_EQ(build("rk3568", out()), DTBO_NO_WORKDIR);
}

TEST_F(DtboBuild, SourceAndScriptThatCannotBeWritten)
{
    // Work directory paths so long that the sources (or only the longer
    // script name) exceed what open() accepts, while the directory itself
    // can still be made: "/tmp/dtbo.XXXXXX" adds 16 characters,
    // "/dto-mmc0.dts" 13, "/rebuild-dtbo.sh" 16.
    const std::string base = m_dir.file("long");
    ASSERT_EQ(mkdir(base.c_str(), 0755), 0);
    setRoot(makeDirOfLength(base, 4070));
    ASSERT_EQ(m_root.size(), 4070u);
    EXPECT_EQ(build("rk3568", out()), DTBO_SOURCE_FAILED);
    EXPECT_NE(log().find("dtbo: Failed to gen_core_dts\n"), std::string::npos) << log();
    EXPECT_NE(log().find("dtbo: Cannot open file for writing: "), std::string::npos);

    const std::string base2 = m_dir.file("long2");
    ASSERT_EQ(mkdir(base2.c_str(), 0755), 0);
    setRoot(makeDirOfLength(base2, 4065));
    ASSERT_EQ(m_root.size(), 4065u);
    EXPECT_EQ(build("rk3568", out()), DTBO_SCRIPT_FAILED);
    EXPECT_NE(log().find("dtbo: Failed to create temp script.\n"), std::string::npos) << log();
}

TEST_F(DtboBuild, FailingScriptAndMissingOutput)
{
    standIn("mkdtimg", "#!/bin/sh\necho 'mkdtimg: broken' >&2\nexit 1\n");
    EXPECT_EQ(build("rk3576", out()), DTBO_BUILD_FAILED);
    EXPECT_NE(log().find("dtbo: Failed to gen dtbo.img, unknow reason.\n"), std::string::npos);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(out())));
    // The work directory stays for inspection: every overlay was compiled,
    // the image step failed.
    std::string name = run("ls " + shq(m_root + "/tmp") + " | grep '^dtbo\\.'").out;
    ASSERT_EQ(name.size(), 12u) << name;   // "dtbo.XXXXXX\n"
    const std::string work = m_root + "/tmp/" + name.substr(0, 11);
    EXPECT_EQ(run("ls " + shq(work)).out,
              "dto-mmc0.dts\ndto-mmc1.dts\ndto-ufs.dts\nrebuild-dtbo.sh\ntemp-mmc0.dtbo\ntemp-mmc1.dtbo\ntemp-ufs.dtbo\n");

    // Output directory missing: the copy fails after the image was built.
    standIn("mkdtimg", readFile(std::string(DTS_TEST_DIR) + "/mkdtimg"));
    EXPECT_EQ(build("rk3568", m_root + "/mnt/sdcard/gone/dtbo.img"), DTBO_NO_OUTPUT);

    // An older image at the output path that the copy fails to replace is
    // not mistaken for the new one.
    writeFile(out(), "old image");
    standIn("cp", "#!/bin/sh\nexit 1\n");
    EXPECT_EQ(build("rk3568", out()), DTBO_NO_OUTPUT);
    EXPECT_EQ(readFile(out()), "old image");
}
