// imgsmith-gui run as a process on a simulated board.
#include "board/boardhardwareinfo.h"
#include "support/qt/simboard.h"
#include "support/testsupport.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <string>

using namespace testsupport;

namespace {

class GuiProcess : public ::testing::Test
{
protected:
    void SetUp() override
    {
#ifndef IMGSMITH_GUI_BINARY
        GTEST_SKIP() << "imgsmith-gui is not built (IMGSMITH_GUI=OFF)";
#else
        m_binary = IMGSMITH_GUI_BINARY;
#endif
        const CmdResult r = run("cd " + shq(root()) + " && mkdir -p run mnt/udisk "
                                "mnt/sdcard/debian/sub mnt/sdcard/debian2 && chmod 700 run && "
                                "touch mnt/sdcard/debian/boot.img mnt/sdcard/debian/rootfs.img "
                                "mnt/sdcard/debian2/boot.img mnt/sdcard/other.raw");
        ASSERT_EQ(r.status, 0) << r.err;
        m_sim.put("proc/cpuinfo", "processor\t: 0\nHardware\t: nosuchfamily\nRevision\t: 0000\n");
        m_sim.put("proc/mounts", "/dev/mmcblk0p1 /mnt/sdcard vfat rw 0 0\n");
    }

    std::string root() const { return m_sim.path(); }
    // Reports board `name` the way its kernel does.
    void boardInfoFor(const QString &name)
    {
        if (gAllBoardHardwareInfo.isEmpty())
            initBoardType();
        const BoardHardwareInfo *row = SimBoard::row(name);
        ASSERT_TRUE(row);
        m_sim.put("sys/devices/platform/board/info",
                  "Hardware\t: " + row->cpuinfoHardware.toStdString() + "\nRevision\t: "
                      + QString::number(row->boardRevision, 16).toStdString() + "\n");
        m_sim.setKernel("6.1.75");
    }
    // The generated file's settings in order, duplicates included.
    std::string settings() const { return run("grep -v -e '^;' -e '^$' " + shq(root() + "/tmp/imgsmith.conf")).out; }
    // The settings after a start with `args` that must end with status 0.
    std::string settingsAfter(const std::string &args, const std::string &cwd = "") const
    {
        const CmdResult r = gui(args, "", cwd);
        EXPECT_EQ(r.status, 0) << args << r.err;
        return settings();
    }
    bool confExists() const { return run("test -e " + shq(root() + "/tmp/imgsmith.conf")).status == 0; }

    // `env`: NAME=value words. A start past the command line runs until
    // stopped: once it catches SIGTERM (bit 15 of SigCgt) it gets one.
    CmdResult gui(const std::string &args, const std::string &env = "", const std::string &cwd = "") const
    {
        const std::string dir = cwd.empty() ? root() : cwd;
        return run("cd " + shq(dir) + " && { env -u debug_imgsmith -u imgsmith_debug -u QT_MESSAGE_PATTERN"
                   " IMGSMITH_ROOT=" + shq(root()) + " QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="
                   + shq(root() + "/run") + " " + env + " " + shq(m_binary) + " " + args + " & pid=$!; "
                   "while kill -0 $pid 2>/dev/null; do "
                   "m=$(awk '/^SigCgt/ { print $2 }' /proc/$pid/status 2>/dev/null); "
                   "[ -n \"$m\" ] && [ $((0x$m & 0x4000)) -ne 0 ] && break; sleep 0.02; done; "
                   "kill -TERM $pid 2>/dev/null; wait $pid; }");
    }

    SimRoot m_sim;
    std::string m_binary;
};

// The usage text, with the storage an install writes to.
bool isUsage(const std::string &err, const char *storage = "eMMC Flash")
{
    return err.rfind(std::string(55, '-') + "\nUSAGE: imgsmith [-i, --install <arg>]\n", 0) == 0
        && err.find(std::string("\"-i, --install <path>:  Install OS to ") + storage + " without UI operation\"\n")
               != std::string::npos
        && err.find("-h, --help:            Show this usage\n") != std::string::npos;
}

// What the full file holds: the early autoExit line is only used by the
// short file of the headless boards; the later one is the effective one.
std::string installConf(const std::string &autoStart, const std::string &autoExit,
                        const std::string &ui, const std::string &disableLowFormatting = "false")
{
    return "[General]\nautoStart=" + autoStart + "\nautoExit=false\ndisableLowFormatting=" + disableLowFormatting
        + "\nautoExit=" + autoExit + "\n[UI]\n" + ui;
}

const char kEmptyUI[] =
    "screenSizePercent=\nwelcomeMessage=\nhideMenuButton=false\nhideBackupAndRestoreButton=false\nhideStatusBar=false\n";

} // namespace

TEST_F(GuiProcess, HelpVersionAndListEndWithStatusZero)
{
    // The pre-scan runs from the end: the last of -v and -h wins.
    for (const auto &[opt, usage] : {std::pair{"--help", true}, {"--bogus -h", true}, {"-v -h", true},
                                     {"--version", false}, {"-x --version", false}, {"-h -v", false}}) {
        const CmdResult r = gui(opt);
        EXPECT_EQ(r.status, 0) << opt;
        EXPECT_TRUE(usage ? isUsage(r.err) : r.err == "v1.5 b260402\n") << opt << r.err;
    }
    for (const char *opt : {"--list-devices", "-i /mnt/sdcard/missing -l"}) {
        const CmdResult r = gui(opt);
        EXPECT_EQ(r.status, 0) << opt;
        EXPECT_EQ(r.err.rfind("\"{{ Currently supported boards:\"\n\"==== ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find("\n\"==== RK3588\"\n\"\t"), std::string::npos) << r.err;
        ASSERT_GE(r.err.size(), 6u);
        EXPECT_EQ(r.err.substr(r.err.size() - 5), "\"}}\"\n");
    }
    EXPECT_FALSE(confExists());
    // The usage names the onboard storage of the board.
    boardInfoFor("Alpha-V5 UFS");
    EXPECT_TRUE(isUsage(gui("-h").err, "UFS Device"));
    boardInfoFor("Alpha-X9");
    EXPECT_TRUE(isUsage(gui("-h").err));
}

TEST_F(GuiProcess, OnboardStorageAndCurrentOsAreReadAtStart)
{
    REQUIRE_TOOLS("sfdisk", "mkfs.ext4");
    boardInfoFor("Alpha-X9");
    const std::string disk = root() + "/dev/mmcblk2";
    m_sim.put("sys/block/mmcblk2/size", "32768\n");
    // A 16 MiB eMMC laid out by sfdisk, mkfs.ext4's label naming the OS.
    makeSparseFile(disk, 16 << 20);
    for (const auto &[label, os] : {std::pair{"rootfs", "linux"}, {"system", "android"}}) {
        const CmdResult r = run("echo 'start=2048, type=83' | sfdisk -q " + shq(disk) + " && mkfs.ext4 -q -F -L "
                                + label + " -E offset=1048576 " + shq(disk) + " 15360k && rm -f "
                                + shq(root() + "/tmp/imgsmith-gui.log"));
        ASSERT_EQ(r.status, 0) << r.err;
        ASSERT_EQ(gui("").status, 0);
        EXPECT_NE(m_sim.log().find(std::string("onboard storage /dev/mmcblk2: 16384 KiB, current OS: ") + os + "\n"),
                  std::string::npos)
            << m_sim.log();
    }
}

TEST_F(GuiProcess, ShortConfigurationOfTheSingledOutBoards)
{
    for (const char *board : {"Alpha-N1", "Alpha-N2"}) {
        boardInfoFor(board);
        EXPECT_EQ(settingsAfter("-i /mnt/sdcard/debian --auto-exit"),
                  "[General]\nautoStart=/mnt/sdcard/debian\nautoExit=true\ndisableLowFormatting=false\n")
            << board;
    }
}

TEST_F(GuiProcess, PlainStartRunsUntilStoppedAndEndsWithStatusZero)
{
    const CmdResult r = gui("");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(confExists());
    EXPECT_EQ(m_sim.log().rfind("imgsmith-gui started (build: ", 0), 0u) << m_sim.log();
    EXPECT_NE(m_sim.log().find("copy buffer size: 67108864 bytes\n"), std::string::npos) << m_sim.log();
    // The SoC picks the copy buffer: a low-memory Allwinner H5 gets 8 MiB.
    writeFile(root() + "/proc/cpuinfo", "Hardware\t: Allwinnersun50iw2Family\nRevision\t: 0\n");
    ASSERT_EQ(gui("").status, 0);
    EXPECT_NE(m_sim.log().find("copy buffer size: 8388608 bytes\n"), std::string::npos) << m_sim.log();
}

TEST_F(GuiProcess, CommandLineErrorsPrintOneLineAndEndWithStatusTwo)
{
    ASSERT_EQ(run("mkfifo " + shq(root() + "/mnt/sdcard/pipe")).status, 0);
    const struct { std::string args, err; } cases[] = {
        {"-i", "Error: missing args, please specify the path where the img files is located.\n"},
        {"--install /mnt/sdcard/missing", "Error: not found:  \"/mnt/sdcard/missing\"\n"},
        {"-i /mnt/sdcard/pipe", "Error: not a directory or file:  \"/mnt/sdcard/pipe\"\n"},
        {"-c", "Error: missing args, please specify config filename.\n"},
        {"--conf /mnt/sdcard/none.conf", "Error: file not found:  \"/mnt/sdcard/none.conf\"\n"},
        {"-e", "Error: missing args, you need to specify the files to exclude.\n"},
        {"--exclude boot.img", "Error: you did not specify the --install parameter.\n"},
        {"-i /mnt/sdcard/debian -e /mnt/sdcard/other.raw",
         "Error: the file to be excluded must be in  \"/mnt/sdcard/debian\" .\n"},
        {"-i /mnt/sdcard/debian -e sub", "Error: file only, but it is a directory:  \"/mnt/sdcard/debian/sub\" .\n"},
        {"-i /mnt/sdcard/debian -e boot.img,nothere.img",
         "Error: file not found:  \"/mnt/sdcard/debian/nothere.img\" .\n"},
        {"--bogus", "Error: unknow args:  \"--bogus\"\n"},
        {"--low-format -g", "Error: unknow args:  \"--low-format\"\n"},
        {"-i /mnt/sdcard/debian -i /mnt/sdcard/debian2", "Error: unknow args:  \"-i\"\n"},
        {"-i /mnt/sdcard/debian --auto-exit extra", "Error: unknow args:  \"extra\"\n"},
        // A sibling sharing the prefix, and "..", must not exclude the set's boot.img.
        {"-i /mnt/sdcard/debian -e /mnt/sdcard/debian2/boot.img",
         "Error: the file to be excluded must be in  \"/mnt/sdcard/debian\" .\n"},
        {"-i /mnt/sdcard/debian -e ../debian2/boot.img",
         "Error: the file to be excluded must be in  \"/mnt/sdcard/debian\" .\n"},
    };
    for (const auto &c : cases) {
        const CmdResult r = gui(c.args);
        EXPECT_EQ(r.status, 2) << c.args;
        EXPECT_EQ(r.err, c.err) << c.args;
        EXPECT_FALSE(confExists()) << c.args;
    }
}

TEST_F(GuiProcess, InstallConfigurationForInstallAndForAutoExitAlone)
{
    // -g ends the pre-scan from the end: what stands after it is examined.
    EXPECT_EQ(gui("-g --low-format --disable-overlayfs").status, 0);
    // That start left its default configuration on the card: removed.
    ASSERT_EQ(run("rm " + shq(root() + "/mnt/sdcard/imgsmith.conf")).status, 0);
    // The install pass runs before -e is examined.
    const CmdResult r = gui("-e ' boot.img , ,rootfs.img' -i /mnt/sdcard/debian");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(settings(), installConf("/mnt/sdcard/debian", "false", kEmptyUI));

    // A relative path is resolved against the media, not the working directory.
    EXPECT_EQ(settingsAfter("-i debian/", root() + "/mnt/sdcard"), installConf("/mnt/sdcard/debian", "false", kEmptyUI));

    EXPECT_EQ(settingsAfter("--auto-exit"), installConf("", "true", kEmptyUI));

    // A raw image file is accepted as well; a stale file is replaced.
    writeFile(root() + "/tmp/imgsmith.conf", "stale\n");
    EXPECT_EQ(settingsAfter("--install /mnt/sdcard/other.raw --auto-exit"), installConf("/mnt/sdcard/other.raw", "true", kEmptyUI));
}

TEST_F(GuiProcess, UnwritableInstallConfigurationFailsTheStart)
{
    // "/tmp" is a file here, so "/tmp/imgsmith.conf" cannot be created.
    ASSERT_EQ(run("rm -rf " + shq(root() + "/tmp") + " && touch " + shq(root() + "/tmp")).status, 0);
    for (const char *args : {"-i /mnt/sdcard/debian", "--auto-exit"}) {
        const CmdResult r = gui(args);
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_EQ(r.err, "Error: cannot write  \"/tmp/imgsmith.conf\"\n") << args;
    }
    EXPECT_EQ(gui("").status, 0);
}

TEST_F(GuiProcess, InstallConfigurationKeepsUiKeysOfTheConfigurationInForce)
{
    writeFile(root() + "/mnt/sdcard/imgsmith.conf",
              "[General]\nautoStart=elsewhere\ndisableLowFormatting=true\n"
              "[UI]\nscreenSizePercent=85\nwelcomeMessage=Hello\nhideMenuButton=true\n");
    writeFile(root() + "/mnt/udisk/my.conf", "[UI]\nhideStatusBar=true\n");

    EXPECT_EQ(settingsAfter("-i /mnt/sdcard/debian"), installConf("/mnt/sdcard/debian", "false",
                                  "screenSizePercent=85\nwelcomeMessage=Hello\nhideMenuButton=true\n"
                                  "hideBackupAndRestoreButton=false\nhideStatusBar=false\n",
                                  "true"));

    // -c replaces the SD card file as the source; its missing keys default.
    EXPECT_EQ(settingsAfter("-c /mnt/udisk/my.conf --auto-exit"), installConf("", "true",
                                  "screenSizePercent=auto\nwelcomeMessage=\nhideMenuButton=false\n"
                                  "hideBackupAndRestoreButton=false\nhideStatusBar=true\n"));
}

TEST_F(GuiProcess, DebugVariables)
{
    const struct { std::string env, err; } cases[] = {
        {"debug_imgsmith=1", "# DebugMode(ImgSmith): On\n"},
        {"imgsmith_debug=7", "# DebugMode(ImgSmith): On\n# DebugMode(LCD4USB): On\n"},
        {"debug_imgsmith=yes", ""},
        {"debug_imgsmith=-3", ""},
        {"debug_imgsmith=1 imgsmith_debug=2",
         "# DebugMode(ImgSmith): On\n# DebugMode(ImgSmith): On\n# DebugMode(LCD4USB): On\n"},
    };
    for (const auto &c : cases) {
        const CmdResult r = gui("-v", c.env);
        EXPECT_EQ(r.status, 0) << c.env;
        EXPECT_EQ(r.err, c.err + "v1.5 b260402\n") << c.env;
    }
}
