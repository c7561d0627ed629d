// The main controller's board services where they meet the screens: message
// boxes, the script dialog, the console and the LCD around the logic of
// BoardServices. TMainWidget's slots of the same names delegate here.
#pragma once

#include <QString>

class TMainWidget;
class QWidget;

class BoardServiceActions
{
public:
    // One-key back-up of the onboard storage onto the TF card (reformatted
    // to its full size first); refuses a card too small or short of space.
    static void start1KeyBackup(TMainWidget *main, bool showMessageBox);
    // Switches eth0 to DHCP; a message box on failure when `showError`.
    static bool dhcp(QWidget *parent, bool showError);
    // Asks to reboot now for new settings to apply.
    static void messageBoxThenReboot(QWidget *parent);
    // Runs `scriptFile` (a path the shell can open) with /bin/bash in the
    // full-screen modal script dialog titled `title`; its exit code.
    static int runScriptDialog(QWidget *parent, const QString &title, const QString &scriptFile);
};
