#include "ui/boardserviceactions.h"

#include <QDebug>
#include <QMessageBox>

#include <cstdlib>

#include "board/boardhardwareinfo.h"
#include "frontend/boardservices.h"
#include "frontend/consolescreen.h"
#include "frontend/usblcdevent.h"
#include "startup/globals.h"
#include "ui/runscriptdialog.h"
#include "ui/tdownloaddetailwidget.h"
#include "ui/tmainwidget.h"
#include "util/log2file.h"
#include "util/util.h"

namespace {
const char *const kReturnPrompt = "Enter \"c\" to return.";

void lcd(const QStringList &lines)
{
    USBLCDEvent::showTextToUSBLCD(lines, lines, false);
}
} // namespace

void BoardServiceActions::start1KeyBackup(TMainWidget *main, bool showMessageBox)
{
    if (main->isJobRunning())
        return;
    if (main->downloadDetailWidget() && main->downloadDetailWidget()->isVisible()) {
        if (debugMode())
            qDebug() << "downloadDetailWidget visible, skip.";
        return;
    }
    BoardServices &services = BoardServices::shared();
    services.reCalcTFCardSize();
    if (services.isTFCardTooSmallFor1KeyBackup()) {
        lcd(BoardServices::tooSmallLCDLines());
        ConsoleScreen::build(QStringLiteral("Error"), {BoardServices::tooSmallConsoleText()},
                             QLatin1String(kReturnPrompt))
            .show();
        if (showMessageBox)
            QMessageBox::critical(main, QObject::tr("Error"), BoardServices::tooSmallMessage());
        return;
    }
    main->userClickBackupRestoreButton();
    main->userSwitchBackupTargetFromConsole(1);
    // The card's data partition is grown to the end of the card and made
    // anew: what it held is lost, which the menu entry says.
    main->userSayFormatDriveFromConsole(1);
    main->userConfirmFormatDriveFromConsole();
    services.reCalcTFCardAvailableSize();
    if (services.isTFCardShortOfSpaceFor1KeyBackup()) {
        lcd({QStringLiteral("Error"), QString(), QStringLiteral("not enough space")});
        ConsoleScreen::build(QStringLiteral("Error"), {services.shortOfSpaceConsoleText()},
                             QLatin1String(kReturnPrompt))
            .show();
        return;
    }
    main->userSelectBackupFromConsole();
}

bool BoardServiceActions::dhcp(QWidget *parent, bool showError)
{
    const bool ok = BoardServices::dhcp();
    if (!ok && showError)
        QMessageBox::critical(parent, QObject::tr("Error"), QObject::tr("Unable to write network configuration!"));
    return ok;
}

void BoardServiceActions::messageBoxThenReboot(QWidget *parent)
{
    if (QMessageBox::question(parent, QObject::tr("Reboot"),
                              QObject::tr("The new settings will take effect after a reboot. Do you want to reboot "
                                          "now?"),
                              QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
        return;
    if (system("sync; reboot;") == -1)
        log2file("fail to call system.\n");
}

int BoardServiceActions::runScriptDialog(QWidget *parent, const QString &title, const QString &scriptFile)
{
    RunScriptDialog dialog(title, scriptFile, QStringLiteral("/bin/bash"), parent);
    dialog.setWindowFlags(dialog.windowFlags() | Qt::FramelessWindowHint);
    if (parent)
        dialog.setGeometry(parent->geometry());
    dialog.exec();
    return dialog.exitCode();
}
