// imgsmith-gui run as a process against a simulated board: messages, exit
// statuses and the generated unattended-install configuration.
#include "support/testsupport.h"

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
        const CmdResult r = run("cd " + shq(root()) + " && mkdir -p proc tmp run mnt/udisk "
                                "mnt/sdcard/debian/sub mnt/sdcard/debian2 && chmod 700 run && "
                                "touch mnt/sdcard/debian/boot.img mnt/sdcard/debian/rootfs.img "
                                "mnt/sdcard/debian2/boot.img mnt/sdcard/other.raw");
        ASSERT_EQ(r.status, 0) << r.err;
        writeFile(root() + "/proc/cpuinfo", "processor\t: 0\nHardware\t: nosuchfamily\nRevision\t: 0000\n");
        writeFile(root() + "/proc/mounts", "/dev/mmcblk0p1 /mnt/sdcard vfat rw 0 0\n");
    }

    std::string root() const { return m_dir.path(); }
    std::string conf() const { return readFile(root() + "/tmp/imgsmith.conf"); }
    bool confExists() const { return run("test -e " + shq(root() + "/tmp/imgsmith.conf")).status == 0; }

    // `env` is prepended to the command as NAME=value words.
    CmdResult gui(const std::string &args, const std::string &env = "", const std::string &cwd = "") const
    {
        const std::string dir = cwd.empty() ? root() : cwd;
        return run("cd " + shq(dir) + " && env -u debug_imgsmith -u imgsmith_debug -u QT_MESSAGE_PATTERN"
                   " IMGSMITH_ROOT=" + shq(root()) + " QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="
                   + shq(root() + "/run") + " " + env + " " + shq(m_binary) + " " + args);
    }

    TempDir m_dir;
    std::string m_binary;
};

const char kUsage[] =
    "-------------------------------------------------------\n"
    "USAGE: imgsmith [-i, --install <arg>]\n"
    "\n"
    "OPTIONAL:\n"
    "\"-i, --install <path>:  Install OS to eMMC Flash without UI operation\"\n"
    "-e, --exclude <files>: Ignore certain files, multiple files separated by commas\n"
    "--low-format:          Low format the flash before burning\n"
    "--auto-exit:           Automatically exit imgsmiht after burning or restoring\n"
    "--disable-overlayfs:   Disable overlay filesystem\n"
    "-c, --conf <arg>:      Set imgsmith configuration file\n"
    "-l, --list-devices:    List the supported board models\n"
    "-v, --version:         Output version information\n"
    "-h, --help:            Show this usage\n"
    "-g, --gui:             Start imgsmith gui\n"
    "\n";

std::string installConf(const std::string &autoStart, const std::string &autoExit,
                        const std::string &ui, const std::string &disableLowFormatting = "false")
{
    return "; This is the imgSmith configuration file.\n"
           "; Every key and its values are described in the imgsmith README.\n"
           "\n"
           "[General]\n"
           "; Automate OS installation at system startup,\n"
           "; Use the \"autoStart\" field to specify the image path or RAW image file, \n"
           "; The RAW image file can be a gzip compressed file, \n"
           "; The RAW image file extension must be \".raw\" or \".gz\", \n"
           "; Available values: \n"
           "autoStart=" + autoStart + "\n"
           "\n"
           "; If the \"autoExit\" field set to true, the imgsmith-gui will automatically exit after burning or restoring is completed,\n"
           "; You can do something else after burning or restoring by modifying /opt/run-imgsmith.sh.\n"
           "autoExit=false\n"
           "\n"
           "; Don't erase the flash before burning, useful if you only want to update part of the system files\n"
           "disableLowFormatting=" + disableLowFormatting + "\n"
           "\n"
           "; If the \"autoExit\" set to true, the imgsmith-gui will automatically exit after burning or restoring is completed,\n"
           "; You can do something else after burning or restoring by modifying /opt/run-imgsmith.sh.\n"
           "autoExit=" + autoExit + "\n"
           "\n"
           "[UI]\n"
           "; HDMI overscan option, examples:\n"
           ";     screenSizePercent=auto\n"
           ";     screenSizePercent=90\n" + ui;
}

const char kEmptyUI[] =
    "screenSizePercent=\n"
    "\n"
    "welcomeMessage=\n"
    "hideMenuButton=false\n"
    "hideBackupAndRestoreButton=false\n"
    "hideStatusBar=false\n";

} // namespace

TEST_F(GuiProcess, HelpVersionAndListEndWithStatusZero)
{
    for (const char *opt : {"-h", "--help", "--bogus -h", "-v -h"}) {
        const CmdResult r = gui(opt);
        EXPECT_EQ(r.status, 0) << opt;
        EXPECT_EQ(r.err, kUsage) << opt;
    }
    for (const char *opt : {"-v", "--version", "-x --version"}) {
        const CmdResult r = gui(opt);
        EXPECT_EQ(r.status, 0) << opt;
        EXPECT_EQ(r.err, "v1.5 b260402\n") << opt;
    }
    // The pre-scan runs from the end: the last of -v and -h wins.
    EXPECT_EQ(gui("-h -v").err, "v1.5 b260402\n");
    for (const char *opt : {"-l", "--list-devices"})
        EXPECT_EQ(gui(opt).status, 0) << opt;
    EXPECT_FALSE(confExists());
}

TEST_F(GuiProcess, PlainStartEndsAfterStartupWithStatusZero)
{
    const CmdResult r = gui("");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(confExists());
    const std::string log = readFile(root() + "/tmp/imgsmith-gui.log");
    EXPECT_EQ(log.rfind("imgsmith-gui started (build: ", 0), 0u) << log;
    EXPECT_NE(log.find("copy buffer size: 67108864 bytes\n"), std::string::npos) << log;
}

TEST_F(GuiProcess, CommandLineErrorsPrintOneLineAndEndWithStatusTwo)
{
    ASSERT_EQ(run("mkfifo " + shq(root() + "/mnt/sdcard/pipe")).status, 0);
    const struct
    {
        std::string args;
        std::string err;
    } cases[] = {
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
        // A sibling directory sharing the prefix, and a way out through
        // "..", would exclude boot.img of the image set by its bare name.
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

TEST_F(GuiProcess, PassOrderAcceptsOptionsInAnyPosition)
{
    // -g ends the pre-scan from the end: what stands after it is examined.
    EXPECT_EQ(gui("-g --low-format --disable-overlayfs").status, 0);
    // The install pass runs before -e is examined.
    const CmdResult r = gui("-e ' boot.img , ,rootfs.img' -i /mnt/sdcard/debian");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(conf(), installConf("/mnt/sdcard/debian", "false", kEmptyUI));
}

TEST_F(GuiProcess, InstallConfigurationForInstallAndForAutoExitAlone)
{
    CmdResult r = gui("-i /mnt/sdcard/debian");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(conf(), installConf("/mnt/sdcard/debian", "false", kEmptyUI));

    r = gui("--auto-exit");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(conf(), installConf("", "true", kEmptyUI));

    // A raw image file is accepted as well; a stale file is replaced.
    writeFile(root() + "/tmp/imgsmith.conf", "stale\n");
    r = gui("--install /mnt/sdcard/other.raw --auto-exit");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(conf(), installConf("/mnt/sdcard/other.raw", "true", kEmptyUI));
}

TEST_F(GuiProcess, InstallConfigurationKeepsUiKeysOfTheConfigurationInForce)
{
    writeFile(root() + "/mnt/sdcard/imgsmith.conf",
              "[General]\nautoStart=elsewhere\ndisableLowFormatting=true\n"
              "[UI]\nscreenSizePercent=85\nwelcomeMessage=Hello\nhideMenuButton=true\n");
    writeFile(root() + "/mnt/udisk/my.conf", "[UI]\nhideStatusBar=true\n");

    CmdResult r = gui("-i /mnt/sdcard/debian");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(conf(), installConf("/mnt/sdcard/debian", "false",
                                  "screenSizePercent=85\n\nwelcomeMessage=Hello\nhideMenuButton=true\n"
                                  "hideBackupAndRestoreButton=false\nhideStatusBar=false\n",
                                  "true"));

    // -c replaces the SD card file as the source; its missing keys default.
    r = gui("-c /mnt/udisk/my.conf --auto-exit");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(conf(), installConf("", "true",
                                  "screenSizePercent=auto\n\nwelcomeMessage=\nhideMenuButton=false\n"
                                  "hideBackupAndRestoreButton=false\nhideStatusBar=true\n"));
}

TEST_F(GuiProcess, RelativeInstallPathIsStoredAbsolute)
{
    // autoStart values that are relative get resolved against the media,
    // not the directory imgsmith-gui was started in.
    const CmdResult r = gui("-i debian/", "", root() + "/mnt/sdcard");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(conf(), installConf("/mnt/sdcard/debian", "false", kEmptyUI));
}

TEST_F(GuiProcess, DebugVariables)
{
    const struct
    {
        std::string env;
        std::string err;
    } cases[] = {
        {"debug_imgsmith=1", "# DebugMode(ImgSmith): On\n"},
        {"debug_imgsmith=2", "# DebugMode(ImgSmith): On\n# DebugMode(LCD4USB): On\n"},
        {"imgsmith_debug=7", "# DebugMode(ImgSmith): On\n# DebugMode(LCD4USB): On\n"},
        {"debug_imgsmith=yes", ""},
        {"debug_imgsmith=0", ""},
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
