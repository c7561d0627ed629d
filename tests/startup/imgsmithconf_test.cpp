// The configuration file, read back by the INI reader; the argument passes
// in-process, for the process-wide settings a process run cannot show.
#include "board/boardhardwareinfo.h"
#include "startup/cmdline.h"
#include "startup/globals.h"
#include "startup/imgsmithconf.h"
#include "support/qt/simboard.h"

#include <QSettings>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <tuple>

using namespace testsupport;

namespace {

class ConfFile : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const char *dir : {"mnt/udisk", "sys/class/drm/card0-HDMI-A-1", "sys/class/switch/hdmi"})
            m_sim.mkdir(dir);
        mounts("");
    }

    const std::string &root() const { return m_sim.path(); }
    // The INI reader skips re-reading a file whose size and time stamp are
    // unchanged; rewrites within one millisecond get distinct stamps.
    void sdConf(const std::string &text)
    {
        static long stamp = 1000000;
        const std::string path = root() + "/mnt/sdcard/imgsmith.conf";
        writeFile(path, text);
        const struct timespec t[2] = {{++stamp, 0}, {stamp, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), t, 0), 0);
    }
    void mounts(const std::string &dirs)
    {
        std::string table = "proc /proc proc rw 0 0\n";
        if (dirs.find("sd") != std::string::npos)
            table += "/dev/mmcblk0p1 /mnt/sdcard vfat rw 0 0\n";
        if (dirs.find("usb") != std::string::npos)
            table += "/dev/sda1 /mnt/udisk exfat rw 0 0\n";
        m_sim.put("proc/mounts", table);
    }

    SimBoard m_sim;   // the process-wide settings are reset with it
};

} // namespace

TEST_F(ConfFile, EveryKeyTakesItsDefault)
{
    for (const char *text : {"", "[General]\n[UI]\n", "; only a comment\nunrelated=1\n"}) {
        sdConf(text);
        const ImgSmithConfValues c = readImgSmithConf(getImgSmithConfFileName());
        EXPECT_EQ(std::tuple(c.fileExists, c.autoExit, c.disableLowFormatting, c.verifyAfterWrite,
                             c.autoRebootWhenSDBeEjected, c.screenSizePercent, c.osListViewType),
                  std::tuple(true, false, false, false, true, "auto", "list")) << text;
    }
    ASSERT_EQ(run("rm " + shq(root() + "/mnt/sdcard/imgsmith.conf")).status, 0);
    EXPECT_FALSE(readImgSmithConf(getImgSmithConfFileName()).fileExists);
}

TEST_F(ConfFile, HandWrittenValuesDuplicatesAndBadBooleans)
{
    sdConf("[General]\nautoExit=true\nautoStart=a\nautoStart=b\nautoExit=false\n"
           "autoRebootWhenSDBeEjected=false\ndisableLowFormatting=yes\n"
           "[UI]\nwelcomeMessage=Welcome, friends\nosListViewType=ICON\nhideStatusBar=TRUE\n"
           "screenSizePercent=80\nscreenSizePercent=95\n");
    const ImgSmithConfValues c = readImgSmithConf(getImgSmithConfFileName());
    // A non-boolean disableLowFormatting keeps the default (erase); commas stay.
    EXPECT_EQ(std::tuple(c.autoStart, c.autoExit, c.autoRebootWhenSDBeEjected, c.disableLowFormatting,
                         c.welcomeMessage, c.osListViewType, c.hideStatusBar, c.screenSizePercent),
              std::tuple("b", false, false, false, "Welcome, friends", "ICON", true, "95"));
}

TEST_F(ConfFile, GeneratedFileReadsBackThroughTheIniReader)
{
    const QString file = QStringLiteral("/tmp/gen.conf");
    ASSERT_TRUE(genImgSmithConf(file, QStringLiteral("debian, img/x.raw"), QStringLiteral("/mnt/sdcard/debian"),
                                true, QStringLiteral("88"), QStringLiteral("Grüße"), true, false, true, true));
    QSettings s(QString::fromStdString(root() + "/tmp/gen.conf"), QSettings::IniFormat);
    EXPECT_EQ(s.value("autoStart").toString(), "/mnt/sdcard/debian");
    EXPECT_EQ(s.value("autoExit").toString(), "true");
    EXPECT_EQ(s.value("UI/welcomeMessage").toString(), QStringLiteral("Grüße"));
    EXPECT_EQ(s.value("UI/hideBackupAndRestoreButton").toString(), "false");
    EXPECT_EQ(s.childGroups(), QStringList{"UI"});

    // The headless boards' short file ends before "[UI]"; its only autoExit
    // line must still carry the flag.
    BoardHardwareInfo headless;
    headless.boardName = QStringLiteral("Alpha-N1");
    BoardHardwareInfo *const saved = gCurrentBoardInfo;
    gCurrentBoardInfo = &headless;
    for (bool autoExit : {true, false}) {
        ASSERT_TRUE(genImgSmithConf(file, {}, QStringLiteral("/mnt/sdcard/debian"), autoExit, QStringLiteral("88"),
                                    {}, false, false, false, false));
        const ImgSmithConfValues c = readImgSmithConf(file);
        EXPECT_EQ(c.autoExit, autoExit);
        EXPECT_EQ(c.screenSizePercent, "auto");
    }
    gCurrentBoardInfo = saved;

    // A file that cannot be opened is skipped without a trace.
    EXPECT_FALSE(genImgSmithConf(QStringLiteral("/nodir/x.conf"), {}, {}, false, {}, {}, false, false,
                                 false, false));
    EXPECT_EQ(run("test -e " + shq(root() + "/nodir")).status, 1);
}

TEST_F(ConfFile, DefaultFileListsImageSetsRelativeToTheirMediumAndNeverOverwrites)
{
    ASSERT_TRUE(writeDefaultImgSmithConf(
        {"/mnt/sdcard/debian", QString::fromStdString(root()) + "/mnt/udisk/raws/x.raw", "/mnt/sdcard/ubuntu"},
        {"/mnt/sdcard", "/mnt/udisk/"}));
    const std::string text = readFile(root() + "/mnt/sdcard/imgsmith.conf");
    EXPECT_NE(text.find("\n; Available values: debian, raws/x.raw, ubuntu\nautoStart=\n"), std::string::npos) << text;
    EXPECT_EQ(readImgSmithConf(getImgSmithConfFileName()).screenSizePercent, "auto");
    sdConf("[General]\nautoStart=mine\n");
    EXPECT_FALSE(writeDefaultImgSmithConf({"/mnt/sdcard/debian"}, {"/mnt/sdcard"}));
    EXPECT_EQ(readFile(root() + "/mnt/sdcard/imgsmith.conf"), "[General]\nautoStart=mine\n");
}

TEST_F(ConfFile, DisabledLowFormatNeedsARegularFile)
{
    EXPECT_FALSE(globalIsDisabledLowFormatInConf());
    m_sim.mkdir("mnt/sdcard/imgsmith.conf");
    EXPECT_FALSE(globalIsDisabledLowFormatInConf());
    imgsmithConfFileName = QStringLiteral("/tmp/a.conf");
    writeFile(root() + "/tmp/a.conf", "disableLowFormatting=true\n");
    EXPECT_TRUE(globalIsDisabledLowFormatInConf());
    writeFile(root() + "/tmp/a.conf", "[UI]\ndisableLowFormatting=true\n");
    EXPECT_FALSE(globalIsDisabledLowFormatInConf());
}

TEST_F(ConfFile, ScreenSizePercent)
{
    const std::string drm = root() + "/sys/class/drm/card0-HDMI-A-1/status";
    const std::string sw = root() + "/sys/class/switch/hdmi/state";
    // No file: 100, or 90 with HDMI.
    EXPECT_EQ(readScreenSizePercent(100), 100);
    writeFile(drm, "connected\n");
    EXPECT_EQ(readScreenSizePercent(100), 90);

    // Values that are not a percentage keep the previous one (70).
    const std::pair<const char *, int> cases[] = {{"Auto", 90}, {"150", 70}, {"abc", 70}, {"0", 0},
                                                  {"100", 100}, {"-5", 70}, {"", 70}};
    for (const auto &[value, expected] : cases) {
        sdConf(std::string("[UI]\nscreenSizePercent=") + value + "\n");
        EXPECT_EQ(readScreenSizePercent(70), expected) << value;
    }
    sdConf("[UI]\n");
    EXPECT_EQ(readScreenSizePercent(70), 90);

    // The drm status decides when it exists; the switch state otherwise.
    writeFile(drm, "  Disconnected \n");
    writeFile(sw, "1\n");
    EXPECT_FALSE(isHDMILinked());
    EXPECT_EQ(readScreenSizePercent(70), 100);
    ASSERT_EQ(run("rm " + shq(drm)).status, 0);
    EXPECT_TRUE(isHDMILinked());
    writeFile(sw, "0\n");
    EXPECT_FALSE(isHDMILinked());
}

TEST_F(ConfFile, AutoStartResolution)
{
    m_sim.mkdir("mnt/sdcard/debian");
    m_sim.mkdir("mnt/udisk/debian");
    m_sim.mkdir("mnt/sdcard/only-sd");
    writeFile(root() + "/mnt/sdcard/img.raw", "x");

    EXPECT_EQ(readAutoFlashingImagePathOrRawFile(), "");   // no file
    sdConf("[General]\nautoStart=\n");
    EXPECT_EQ(readAutoFlashingImagePathOrRawFile(), "");

    const struct { const char *value, *mounted, *expected; } cases[] = {
        {"debian/", "sd usb", "/mnt/udisk/debian"},
        {"debian", "sd", "/mnt/sdcard/debian"},
        {"debian", "", ""},
        {"only-sd", "sd usb", "/mnt/sdcard/only-sd"},
        {"only-sd", "usb", ""},
        {"img.raw", "sd", "/mnt/sdcard/img.raw"},
        {"/mnt/sdcard/debian/", "", "/mnt/sdcard/debian"},
        {"/mnt/sdcard/missing", "sd", ""},
    };
    for (const auto &c : cases) {
        mounts(c.mounted);
        sdConf(std::string("[General]\nautoStart=") + c.value + "\n");
        EXPECT_EQ(readAutoFlashingImagePathOrRawFile(), c.expected) << c.value << " / " << c.mounted;
    }
}

TEST_F(ConfFile, AutoStartSwitchKeepsTheOtherKeys)
{
    m_sim.mkdir("mnt/sdcard/a, b");
    mounts("sd");
    ASSERT_TRUE(genImgSmithConf(getImgSmithConfFileName(), {}, {}, true, QStringLiteral("80"),
                                QStringLiteral("Hi"), true, false, false, true, true));
    // A name with a comma must survive the writer's list syntax.
    ASSERT_TRUE(setImgSmithConfAutoStart(QStringLiteral("a, b")));
    const ImgSmithConfValues c = readImgSmithConf(getImgSmithConfFileName());
    EXPECT_EQ(readAutoFlashingImagePathOrRawFile(), "/mnt/sdcard/a, b");
    EXPECT_EQ(std::tuple(c.autoExit, c.disableLowFormatting, c.verifyAfterWrite, c.screenSizePercent,
                         c.welcomeMessage, c.hideMenuButton),
              std::tuple(true, true, true, "80", "Hi", true));
    EXPECT_TRUE(globalIsVerifyAfterWriteInConf());

    ASSERT_TRUE(setImgSmithConfAutoStart(QString()));
    EXPECT_EQ(readAutoFlashingImagePathOrRawFile(), "");
    EXPECT_TRUE(readImgSmithConf(getImgSmithConfFileName()).autoExit);
    // An unattended install's one-off file keeps the read-back too.
    ASSERT_TRUE(writeInstallImgSmithConf(QStringLiteral("/mnt/sdcard/a, b"), false));
    EXPECT_TRUE(globalIsVerifyAfterWriteInConf());
}

TEST_F(ConfFile, ArgumentPassesSetFlagsExcludesAndTheConfigurationFile)
{
    for (const char *f : {"mnt/sdcard/debian/a.img", "mnt/sdcard/debian/b.img", "mnt/sdcard/my.conf"})
        m_sim.put(f, "");
    QStringList args{"imgsmith-gui", "-g", "--low-format", "-c", "/mnt/sdcard/my.conf", "--disable-overlayfs", "-e",
                     " a.img , , /mnt/sdcard/debian/b.img,.", "-i", "/mnt/sdcard/debian"};
    CommandLineRequest request;
    ASSERT_EQ(runArgumentPasses(args, request, QStringLiteral("eMMC Flash"), nullptr), kContinueStartup);
    EXPECT_TRUE(globalIsNeedLowFormat());
    EXPECT_TRUE(globalIsOverlayfsDisabled());
    EXPECT_EQ(imgsmithConfFileName, "/mnt/sdcard/my.conf");
    EXPECT_EQ(getExcledeFilesList(), (QStringList{"a.img", "b.img"}));
    EXPECT_EQ(request.installPath, "/mnt/sdcard/debian");
    EXPECT_TRUE(request.installConfNeeded);
}
