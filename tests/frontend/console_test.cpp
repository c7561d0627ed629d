// Console and LCD texts and the console command interpreter.
#include "frontend/consolecommandinterpreter.h"
#include "frontend/controllerconsolescreens.h"
#include "frontend/osmenutexts.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

TEST(ConsoleCommands, OnlyAcceptedInputsActAndIndexesMustExist)
{
    const QMap<QString, QString> choices = {{"af1", "/mnt/sdcard/a"}, {"af2", "/mnt/udisk/b.raw"}};
    const QStringList menu = {"1", "2", "tf", "usb", "bk", "aui", "fud", "ftf", "reboot", "poweroff", "c"};
    const QStringList detail = {"yes", "y", "no", "n", "c", "reboot", "poweroff"};
    const QStringList autoMenu = {"af1", "af2", "ioff", "c"};
    const struct {
        const char *input;
        QStringList accepted;
        int lastChosen;
        ConsoleCommand::Kind kind;
        int index;
        const char *path;
    } cases[] = {
        {"2", menu, -1, ConsoleCommand::ChooseOS, 1, ""},
        {"3", QStringList(menu) << "3", -1, ConsoleCommand::Ignored, -1, ""},  // two sets only
        {"3", menu, -1, ConsoleCommand::Ignored, -1, ""},                      // not accepted
        {"bk", detail, -1, ConsoleCommand::Ignored, -1, ""},                   // not on this screen
        {"  BK ", menu, -1, ConsoleCommand::StartBackup, -1, ""},
        {" YES ", detail, 1, ConsoleCommand::Yes, 1, ""},
        {"y", detail, 2, ConsoleCommand::Ignored, -1, ""},                     // index out of range
        {"y", detail, -1, ConsoleCommand::Ignored, -1, ""},
        {"n", detail, 0, ConsoleCommand::No, -1, ""},
        {"c", detail, 0, ConsoleCommand::Cancel, -1, ""},
        {"af2", autoMenu, -1, ConsoleCommand::SetAutoInstall, -1, "/mnt/udisk/b.raw"},
        {"af3", QStringList(autoMenu) << "af3", -1, ConsoleCommand::Ignored, -1, ""},
        {"ioff", autoMenu, -1, ConsoleCommand::AutoInstallOff, -1, ""},
        {"tf", menu, -1, ConsoleCommand::BackupTargetTF, -1, ""},
        {"fud", menu, -1, ConsoleCommand::FormatUSBDrive, -1, ""},
        {"hello", QStringList{"hello"}, -1, ConsoleCommand::Unknown, -1, ""},
    };
    for (const auto &c : cases) {
        const ConsoleCommand r = ConsoleCommandInterpreter::interpret(c.input, c.accepted, 2, c.lastChosen, choices);
        EXPECT_EQ(std::tuple(r.kind, r.index, r.path), std::tuple(c.kind, c.index, QString::fromUtf8(c.path))) << c.input;
    }
}

TEST(ConsoleScreens, AutoInstallMenuMarksTheCurrentSetAndListsItsKeys)
{
    QMap<QString, QString> choices;
    const ConsoleScreen s = ControllerConsoleScreens::autoInstallMenu(
        {"Debian (/mnt/sdcard/d)", "Raw (/mnt/sdcard/r.raw)"}, {"/mnt/sdcard/d", "/mnt/sdcard/r.raw"},
        " /mnt/sdcard/r.raw ", choices);
    EXPECT_EQ(s.lines.mid(2, 3), QStringList({"  af1) [ ] Debian (/mnt/sdcard/d)", "  af2) [*] Raw (/mnt/sdcard/r.raw)",
                                              "  ioff) [ ] turn off"}));
    EXPECT_EQ(s.lines.last(), ">>> Enter an option (af1/af2/ioff) , or \"c\" to return:");
    EXPECT_EQ(s.acceptedInputs, QStringList({"af1", "af2", "ioff", "reboot", "poweroff", "c"}));
    EXPECT_EQ(choices.value("af2"), "/mnt/sdcard/r.raw");

    const ConsoleScreen none = ControllerConsoleScreens::autoInstallMenu({}, {}, {}, choices);
    EXPECT_TRUE(choices.isEmpty());
    EXPECT_EQ(none.lines.last(), ">>>Enter \"c\" to return.");
}

TEST(ConsoleScreens, MainMenuFollowsMediaAndBackupTarget)
{
    OSMenuModel m;
    m.onboardType = "eMMC Flash";
    m.onboardSizeKiB = 8 * 1024 * 1024;
    m.version = "v1.5 b260402";
    m.boardName = "Board";
    m.osNames = {"A", "B"};
    m.backupTarget = 2;
    m.backupFileName = "/mnt/udisk/board-emmc.raw";
    m.usb.present = true;
    m.usb.mounted = true;
    m.usb.fsType = "ext4";
    m.usb.availableSize = 1;
    m.usb.totalSize = 100;
    m.usbDevName = "/dev/sda1";
    ConsoleScreen s = OSMenuTexts::consoleMenu(m);
    EXPECT_TRUE(s.lines.contains("  There is not enough free disk space on your removable disk"));
    EXPECT_FALSE(s.acceptedInputs.contains("bk"));
    EXPECT_TRUE(s.lines.contains("  2) B"));
    EXPECT_TRUE(s.lines.contains("  usb) [*] USB disk  (/dev/sda1 - 1 KB free - 100 KB total - ext4)"));

    m.usb.availableSize = m.onboardSizeKiB * 2;
    m.usb.totalSize = m.usb.availableSize;
    s = OSMenuTexts::consoleMenu(m);
    EXPECT_TRUE(s.lines.contains("  bk) Start backup, use \"/mnt/udisk/board-emmc.raw\" as the file name"));
    EXPECT_EQ(s.lines.last(), ">>> Enter an option (1/2/tf/usb/bk/aui/fud/ftf), press ctrl+c to exit:");

    m.usb.readOnly = true;
    EXPECT_EQ(OSMenuTexts::backupWarning(m), "  USB Disk's file system mounted as read-only");
    m.usb.mounted = false;
    EXPECT_EQ(OSMenuTexts::mediumText(m.usb, m.usbDevName, true), " (<failed to mount>)");
    m.usb.present = false;
    EXPECT_EQ(OSMenuTexts::backupWarning(m), "  No removable disk were found");

    m.hasOnboardStorage = false;
    s = OSMenuTexts::consoleMenu(m);
    EXPECT_TRUE(s.lines.contains("No eMMC Flash detected"));
    EXPECT_EQ(s.acceptedInputs, QStringList({"reboot", "poweroff"}));
}

// The menu rows and the set counter are read off the display model by the
// USB LCD controller test; here the screens without a menu.
TEST(LcdMenu, NoSetsOrNoStorage)
{
    EXPECT_EQ(OSMenuTexts::lcdMenu(true, "eMMC Flash", {}, -1).first(), "No image files!");
    EXPECT_EQ(OSMenuTexts::lcdMenu(false, "UFS Device", {"A"}, 0).first(), "No UFS Device detected");
}

} // namespace
