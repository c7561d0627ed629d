#include "ui/boardserviceactions.h"

#include <QDebug>
#include <QEventLoop>
#include <QMessageBox>
#include <QProcess>

#include <cstdlib>

#include "board/boardhardwareinfo.h"
#include "frontend/boardservices.h"
#include "frontend/consolescreen.h"
#include "frontend/usblcdevent.h"
#include "startup/globals.h"
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

int BoardServiceActions::doScriptsInPath(QWidget *parent, const QString &scriptDirectory, const QString &wrapperFile)
{
    return BoardServices::doScriptsInPath(scriptDirectory, wrapperFile, [&](const QString &wrapper) {
        ConsoleScreen::build(QStringLiteral("Executing script (in %1)").arg(scriptDirectory),
                             {QStringLiteral("Please wait ...")}, QString())
            .show();
        return runScriptDialog(parent, QObject::tr("Executing script"), wrapper);
    });
}

// The script dialog (RunScriptDialog) is not part of this build yet: the
// script runs without it, the screens stay painted while it runs, and its
// output goes to the log.
int BoardServiceActions::runScriptDialog(QWidget *parent, const QString &title, const QString &scriptFile)
{
    Q_UNUSED(parent);
    log2file("%s: the script dialog is not available yet; running %s without it\n", qPrintable(title),
             qPrintable(scriptFile));
    qWarning() << "BoardServiceActions::runScriptDialog: the script dialog is not available yet;" << title
               << "runs without it";
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    process.start(QStringLiteral("/bin/bash"), {scriptFile});
    if (!process.waitForStarted())
        return 127;
    if (process.state() != QProcess::NotRunning)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    log2file("%s", process.readAll().constData());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : 128;
}
