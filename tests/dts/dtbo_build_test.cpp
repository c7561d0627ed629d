// build_dtbo_img end to end on a simulated root: real dtc, a mkdtimg
// stand-in writing a real DT table image, the image taken apart and every
// overlay read back with fdtget; and every result code provoked.
#include "dts/dtbo.h"
#include "dts/overlayargs.h"
#include "support/simroot.h"

#include <gtest/gtest.h>

#include <QFile>

#include <cstdlib>
#include <fcntl.h>
#include <tuple>
#include <sys/stat.h>
#include <unistd.h>

using namespace testsupport;

namespace {

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
        ASSERT_EQ(run("mkdir -p " + shq(m_bin) + " && ln -s " + shq(std::string(MKDTIMG_DIR) + "/mkdtimg")
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

const std::string kCgroup = " cgroup_enable=cpuset cgroup_memory=1 cgroup_enable=memory";

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
    const std::string m2 = "root=/dev/mmcblk2p8 rw rootfstype=ext4 rootflags=discard data=/dev/mmcblk2p9 ";
    const std::string m0 = "root=/dev/mmcblk0p8 rw rootfstype=ext4 data=/dev/mmcblk0p9 ";
    const std::string m1 = "root=/dev/mmcblk1p8 rw rootfstype=ext4 data=/dev/mmcblk1p9 ";
    const std::string ufs = "root=/dev/sda8 rw rootfstype=ext4 rootflags=discard data=/dev/sda9 ";
    const std::string fiq = "console=ttyFIQ0 consoleblank=0" + kCgroup;
    const std::string blank = "consoleblank=0" + kCgroup;
    const std::string s3328 = "console=ttyS2,1500000 earlycon=uart8250,mmio32,0xff130000 consoleblank=0" + kCgroup;
    const std::string s3399 = "cgroup_enable=memory cgroup_memory=1 console=ttyS2,1500000 consoleblank=0 "
                              "data=/dev/nvme0n1p2 earlycon=uart8250,mmio32,0xff1a0000 root=/dev/nvme0n1p1 ";
    const std::string fiqMerged = "cgroup_enable=memory cgroup_memory=1 console=ttyFIQ0 consoleblank=0 "
                                  "data=/dev/nvme0n1p2 root=/dev/nvme0n1p1 ";
    // CPU, main device tree, user's devices, reboot-mode node, each overlay's bootargs_ext.
    const std::vector<std::tuple<const char *, bool, bool, bool, std::vector<std::string>>> cases = {
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
    for (const auto &[cpu, useMain, user, rebootModes, expected] : cases) {
        SCOPED_TRACE(std::string(cpu) + (useMain ? " main" : "") + (user ? " user" : ""));
        unlink(target.c_str());
        ASSERT_EQ(build(cpu, target, useMain, user), DTBO_OK) << log();
        EXPECT_EQ(overlayArgs(m_dir.path(), target), expected);
        for (size_t i = 0; i < expected.size(); i++) {
            const std::string blob = shq(m_dir.file("ov." + std::to_string(i)));
            if (!rebootModes) {
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
    // PATH holds nothing, then only dtc.
    const std::string onlyDtc = m_dir.file("onlydtc");
    ASSERT_EQ(mkdir(onlyDtc.c_str(), 0755), 0);
    m_sim.setEnv("PATH", onlyDtc);
    EXPECT_EQ(build("rk3568", out()), DTBO_NO_DTC);
    EXPECT_NE(log().find("dtbo: Command not found: dtc\n"), std::string::npos);
    ASSERT_EQ(run("PATH=" + shq(m_savedPath) + "; ln -s \"$(command -v dtc)\" " + shq(onlyDtc + "/dtc")).status, 0);
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
    ASSERT_EQ(run("mkdir -p " + shq(m_root + "/opt") + " && cp " + shq(std::string(MKDTIMG_DIR) + "/mkdtimg")
                  + " " + shq(m_root + "/opt/mkdtimg")).status, 0);
    if (!haveTool("mkdtimg")) {
        ASSERT_EQ(build("rk3568", out()), DTBO_OK) << log();
        EXPECT_EQ(overlayArgs(m_dir.path(), out()), (std::vector<std::string>{kMerged0, kMerged1}));
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
    // Exactly one of them ("dtbo.XXXXXX"), or ls would print headers.
    EXPECT_EQ(run("ls " + shq(m_root + "/tmp") + "/dtbo.??????").out,
              "dto-mmc0.dts\ndto-mmc1.dts\ndto-ufs.dts\nrebuild-dtbo.sh\ntemp-mmc0.dtbo\ntemp-mmc1.dtbo\ntemp-ufs.dtbo\n");

    // Output directory missing: the copy fails after the image was built.
    standIn("mkdtimg", readFile(std::string(MKDTIMG_DIR) + "/mkdtimg"));
    EXPECT_EQ(build("rk3568", m_root + "/mnt/sdcard/gone/dtbo.img"), DTBO_NO_OUTPUT);

    // An older image at the output path that the copy fails to replace is
    // not mistaken for the new one.
    writeFile(out(), "old image");
    standIn("cp", "#!/bin/sh\nexit 1\n");
    EXPECT_EQ(build("rk3568", out()), DTBO_NO_OUTPUT);
    EXPECT_EQ(readFile(out()), "old image");
}

// Overlay sources: argument strings against hand-written expectations,
// regeneration, and user text compiled by the real dtc and read back with
// fdtget.

TEST(DtboArgs, ShortAndMergedForms)
{
    const QString fiq = "console=ttyFIQ0 consoleblank=0";
    const std::string head = "cgroup_enable=memory cgroup_memory=1 consoleblank=0 ";
    // Root, data and rootflags; extra arguments, the user's map and list, no data=; the result.
    const std::tuple<const char *, const char *, const char *, QString, QMap<QString, QString>, QStringList, bool,
                     std::string>
        cases[] = {
        // Without a user map: the short form, and the user list is not consulted.
        {"/dev/mmcblk2p8", "/dev/mmcblk2p9", "discard", "", {}, {}, false,
         "root=/dev/mmcblk2p8 rw rootfstype=ext4 rootflags=discard data=/dev/mmcblk2p9 consoleblank=0" + kCgroup},
        {"/dev/mmcblk0p8", "/dev/mmcblk0p9", "", fiq, {}, {}, false,
         "root=/dev/mmcblk0p8 rw rootfstype=ext4 data=/dev/mmcblk0p9 console=ttyFIQ0 consoleblank=0" + kCgroup},
        {"/dev/a", "/dev/b", "", "", {}, {"ro", "quiet"}, false,
         "root=/dev/a rw rootfstype=ext4 data=/dev/b consoleblank=0" + kCgroup},
        // Merged: default map in key order, "rw", then the user's arguments.
        {"/dev/nvme0n1p1", "/dev/nvme0n1p2", "discard", fiq, {{"bootdev", "mmc0"}}, {}, false,
         "cgroup_enable=memory cgroup_memory=1 console=ttyFIQ0 consoleblank=0 data=/dev/nvme0n1p2 "
         "root=/dev/nvme0n1p1 rootflags=discard rootfstype=ext4 rw bootdev=mmc0"},
        // "ro" from the user drops the default "rw"; a user "rw" appears once, at the user's place.
        {"/dev/a", "/dev/b", "", "", {{"bootdev", "x"}}, {"ro"}, false,
         head + "data=/dev/b root=/dev/a rootfstype=ext4 bootdev=x ro"},
        {"/dev/a", "/dev/b", "", "", {{"k", "v"}}, {"rw"}, false, head + "data=/dev/b root=/dev/a rootfstype=ext4 k=v rw"},
        // A user console replaces the default one; a user rootfstype too.
        {"/dev/a", "/dev/b", "", fiq, {{"console", "ttyS0,115200"}, {"rootfstype", "auto"}}, {}, false,
         head + "data=/dev/b root=/dev/a rw console=ttyS0,115200 rootfstype=auto"},
        // noDataArg: no data= at all, not even the user's.
        {"/dev/a", "/dev/b", "", "", {{"data", "/dev/c"}, {"bootdev", "y"}}, {}, true,
         head + "root=/dev/a rootfstype=ext4 rw bootdev=y"},
        {"/dev/a", "/dev/b", "", "", {}, {}, true, head + "root=/dev/a rootfstype=ext4 rw"},
        // quiet/debug/loglevel from the user remove all three defaults; bare
        // tokens of the extra arguments carry no value and are left out.
        {"/dev/a", "", "", "loglevel=7 splash consoleblank=0", {{"k", "v"}}, {"quiet"}, false,
         head + "root=/dev/a rootfstype=ext4 rw k=v quiet"},
        // A token with two '=' keeps its whole text as a key without value.
        {"/dev/a", "", "", "a=b=c", {{"k", "v"}}, {}, false,
         "cgroup_enable=memory cgroup_memory=1 root=/dev/a rootfstype=ext4 rw k=v"},
    };
    for (const auto &[root, data, flags, extra, map, list, noData, expected] : cases)
        EXPECT_EQ(dtbo_bootargs(root, data, flags, extra, map, list, noData).toStdString(), expected)
            << root << " " << extra.toStdString();
}

TEST(DtboSource, Rk35xxRegeneratesAndReportsUnwritableDirectory)
{
    // The generated text is checked through dtc and fdtget below.
    TempDir d;
    const QString dir = QString::fromStdString(d.path());
    ASSERT_TRUE(gen_core_dts_rk35xx("RK3568", dir, "", "", {}, {}, false));
    // Regenerating truncates: one chosen node, one reboot-mode node.
    ASSERT_TRUE(gen_core_dts_rk35xx("rk3568", dir, "/dev/sda1", "/dev/sda2", {}, {}, false));
    const std::string again = readFile(d.file("dto-mmc0.dts"));
    EXPECT_EQ(again.find("&reboot_mode"), again.rfind("&reboot_mode"));
    EXPECT_NE(again.find("root=/dev/sda1 rw"), std::string::npos);
    EXPECT_NE(readFile(d.file("dto-mmc1.dts")).find("data=/dev/sda2 "), std::string::npos);
    EXPECT_FALSE(QFile::exists(dir + "/dto-ufs.dts")) << "only the RK3576 boots from UFS";

    // A directory that cannot be written fails, naming the file in the log.
    EXPECT_FALSE(gen_core_dts_rk35xx("rk3568", dir + "/missing", "", "", {}, {}, false));
    EXPECT_FALSE(append_reboot_mode(dir + "/missing/x.dts"));
}

// Quotes, backslashes and a would-be node from info.conf must end up as
// argument text, not as device tree syntax.
TEST(DtboSource, UserTextStaysOneStringInTheOverlay)
{
    if (!haveTool("dtc") || !haveTool("fdtget"))
        GTEST_SKIP() << "dtc/fdtget not installed (device-tree-compiler)";
    TempDir d;
    const QMap<QString, QString> map{{"k", "a\"b"}, {"p", "c\\d"}};
    ASSERT_TRUE(generate_core_dts("rk3588*/", "/dev/a", "/dev/b", QString::fromStdString(d.file("o.dts")), "", "", map,
                                  {"x\";};&foo{y=\"1"}, false));
    const std::string blob = d.file("check.dtbo");
    const CmdResult c = run("dtc -a 16 -@ -O dtb -o " + shq(blob) + " " + shq(d.file("o.dts")));
    ASSERT_EQ(c.status, 0) << c.err;
    EXPECT_EQ(run("fdtget " + shq(blob) + " /fragment@0/__overlay__ bootargs_ext").out,
              "cgroup_enable=memory cgroup_memory=1 consoleblank=0 data=/dev/b root=/dev/a "
              "rootfstype=ext4 rw k=a\"b p=c\\d x\";};&foo{y=\"1\n");
}
