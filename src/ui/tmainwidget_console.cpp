// The main controller's console screens and the menu entries whose work lies
// in the other screens.
#include "ui/tmainwidget.h"

#include "backup/udiskstatus.h"
#include "board/boardhardwareinfo.h"
#include "frontend/controllerconsolescreens.h"
#include "frontend/osmenutexts.h"
#include "startup/globals.h"
#include "startup/imgsmithconf.h"
#include "frontend/consolelinkevent.h"
#include "ui/backuprestoremodemainwidget.h"
#include "ui/runscriptdialog.h"
#include "ui/tosselectwidget.h"
#include "util/qpaths.h"

#include <QDebug>
#include <QFileInfo>

void TMainWidget::userSayFormatDriveFromConsole(int drive)
{
    if (drive != 1 && drive != 2)
        return;
    m_pendingFormatDrive = drive;
    ControllerConsoleScreens::formatPrompt(drive).show();
}

void TMainWidget::userConfirmFormatDriveFromConsole()
{
    if (isJobRunning()) {
        ControllerConsoleScreens::formatBusy(m_pendingFormatDrive).show();
        return;
    }
    if (m_pendingFormatDrive == 2)
        m_backupRestoreWidget->formatUSBDrive();
    else if (m_pendingFormatDrive == 1)
        m_backupRestoreWidget->formatTFCard();
}

void TMainWidget::userSwitchBackupTargetFromConsole(int kind)
{
    m_backupRestoreWidget->switchTargetDevice(kind);
    ControllerConsoleScreens::backupTargetChanged(kind).show();
}

void TMainWidget::userSelectBackupFromConsole()
{
    if (isJobRunning()) {
        const QString type = gCurrentBoardInfo ? gCurrentBoardInfo->getOnboardFlashType() : QString();
        ControllerConsoleScreens::backupBusy(type).show();
        return;
    }
    userClickBackupRestoreButton();
    const QString file = m_backupRestoreWidget->genBackupFileName(m_backupRestoreWidget->targetDeviceKind());
    m_backupRestoreWidget->startBackupToFile(file);
}

void TMainWidget::userOffAutoTaskFromConsole(const QString &kind)
{
    if (kind != QLatin1String("install")) {
        qDebug().noquote() << "userOffAutoTaskFromConsole: nothing to switch off for " + kind;
        return;
    }
    if (QFileInfo(sysPath(getImgSmithConfFileName())).isFile())
        setImgSmithConfAutoStart(QString());
    m_osSelectWidget->updateAutoFlashingFlag();
    ControllerConsoleScreens::autoInstallOff().show();
}

void TMainWidget::userSetAutoInstallOSFromConsole(const QString &path)
{
    setImgSmithConfAutoStart(path);
    m_osSelectWidget->updateAutoFlashingFlag();
    ControllerConsoleScreens::autoInstallOn(path).show();
}

void TMainWidget::userNeedShowAutoInstallOSMenuFromConsole()
{
    ControllerConsoleScreens::autoInstallMenu(m_osSelectWidget->enmuOSNames(), m_osSelectWidget->enmuOSIds(),
                                              readAutoFlashingImagePathOrRawFile(), m_autoInstallChoices)
        .show();
}

QString TMainWidget::getUSBStatusConsoleDisplayText() const
{
    const QString dev = gCurrentBoardInfo ? gCurrentBoardInfo->getUdiskDevName() : QString();
    return OSMenuTexts::mediumText(BackupMedium::fromUDisk(gUdiskStatus), QStringLiteral("/dev/%1%2").arg(dev).arg(1),
                                   true);
}

QString TMainWidget::getTFStatusConsoleDisplayText() const
{
    const QString dev = gCurrentBoardInfo ? gCurrentBoardInfo->getSDCardFatPartitionFullName() : QString();
    return OSMenuTexts::mediumText(tfCardMedium(), dev, false);
}

BackupMedium TMainWidget::tfCardMedium() const
{
    return BackupMedium::tfCard(gSDCardPath, m_boardServices.tfCardSize(), m_boardServices.tfCardAvailableSize());
}

int TMainWidget::doScriptsInPath(const QString &scriptDirectory, const QString &wrapperFile)
{
    return BoardServices::doScriptsInPath(scriptDirectory, wrapperFile, [this](const QString &wrapper) {
        ConsoleLinkEvent::showTextToConsoleLink(
            {QStringLiteral("Executing script (in %1)").arg(wrapper), QStringLiteral("Please wait ...")}, {});
        RunScriptDialog dialog(tr("Executing script"), wrapper, QStringLiteral("/bin/bash"), this);
        dialog.setWindowFlags(dialog.windowFlags() | Qt::FramelessWindowHint);
        dialog.setGeometry(geometry());
        dialog.exec();
        return dialog.exitCode();
    });
}
