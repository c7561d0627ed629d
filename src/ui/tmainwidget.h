// The one top-level window: owns the OS selection, install detail and
// back-up screens, routes every event that workers and front-end layers post
// to the GUI thread, and turns touch, LCD-key and console commands into the
// same screen changes.
#pragma once

#include "board/targetdevice.h"
#include "frontend/boardservices.h"
#include "frontend/brselectorrules.h"
#include "imageset/osconfig.h"

#include <QMap>
#include <QStringList>
#include <QWidget>

class BackupRestoreModeMainWidget;
class QLabel;
class QTimer;
class TDownloadDetailWidget;
class TOSSelectWidget;
class USBLCDKeyThread;

class TMainWidget : public QWidget
{
    Q_OBJECT
public:
    explicit TMainWidget(QWidget *parent = nullptr);
    ~TMainWidget() override;

    TOSSelectWidget *osSelectWidget() const { return m_osSelectWidget; }
    TDownloadDetailWidget *downloadDetailWidget() const { return m_downloadDetailWidget; }
    BackupRestoreModeMainWidget *backupRestoreWidget() const { return m_backupRestoreWidget; }

    // An install or a back-up job exists and runs.
    bool isJobRunning() const;
    bool isUSBLCDPresent() const { return m_usbLCDPresent; }
    // The inputs the console screen on show accepts, and its lines.
    QStringList consoleAcceptedInputs() const { return m_consoleAcceptedInputs; }
    QStringList consoleLines() const { return m_consoleLines; }
    QMap<QString, QString> autoInstallChoices() const { return m_autoInstallChoices; }

    int getOSDownloadedTimes() const { return m_osDownloadedTimes; }
    int getBackupAndRestoreTimes() const { return m_backupAndRestoreTimes; }
    TargetDevice getTargetDevice() const { return m_targetDevice; }

    // Ends the event loop with `exitCode` one second from now (unattended
    // runs: 0 after a finished job, 1 after a failed install).
    void scheduleAutoExit(int exitCode);

    // The SD card's data partition as the console menu and the back-up mode
    // see it.
    BackupMedium tfCardMedium() const;

    // Board services.
    bool isHDMILinked() const;
    int readScreenSizePercent();
    void resizeMainWidget();
    QString readAutoFlashingImagePathOrRawFile() const;

public slots:
    // Screen flow.
    void osSelected(const OSConfig &os);
    void osSelectedFromUSBLCD(const OSConfig &os);
    void osSelectedFromConsole(const OSConfig &os);
    void userSayYesFromConsole(const OSConfig &os);
    void userSayCancelFromConsole();
    void downloadDetailWidgetBackButtonPressed();
    void backupRestoreMainWidgetBackButtonPressed();
    void userClickBackupRestoreButton();
    void showErrorWidget(const QString &text);

    // Console screens.
    void userSelectBackupFromConsole();
    void userSayFormatDriveFromConsole(int drive);
    void userConfirmFormatDriveFromConsole();
    void userSwitchBackupTargetFromConsole(int kind);
    void userOffAutoTaskFromConsole(const QString &kind);
    void userSetAutoInstallOSFromConsole(const QString &path);
    void userNeedShowAutoInstallOSMenuFromConsole();
    QString getUSBStatusConsoleDisplayText() const;
    QString getTFStatusConsoleDisplayText() const;
    void sendTextToConsoleLink(const QStringList &lines);

    // USB LCD.
    void sendTextToUSBLCD(const QStringList &lines);
    void usbDevicesStateChanged();

    // Menu entries whose work lies in the board services.
    void userClickSwitchEth0ToDHCPMenuItem();
    void user1KeyBackupMenuItem();
    // Runs the user's scripts against the onboard Linux in the script dialog;
    // the script's result, 0 when there was nothing to run.
    int doScriptsInPath(const QString &scriptDirectory, const QString &wrapperFile);

    // Board services (tmainwidget_boardservices.cpp): delegations to
    // BoardServices, BoardServiceActions and RockchipVendorStorage.
    void reCalcTFCardSize();
    void reCalcTFCardAvailableSize();
    void reNewCurrentOSInfo();
    bool isBoardUnableToReadPartition();
    void start1KeyBackup(bool showMessageBox);
    bool dhcp(bool showError);
    void messageBoxThenReboot();
    void dumpRockchipVendorStorage();
    void resetRK3399MacAddress();
    void resetRockchipUbootMacAddress();

signals:
    void usblcdKeyPressed(int key);
    void consoleLinkMessageReceived(QString text);

protected:
    void customEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void connectScreens();
    void showOSSelected(const OSConfig &os, bool fromUSBLCD);
    void layoutScreens();
    bool openUSBLCD();

    TOSSelectWidget *m_osSelectWidget = nullptr;
    TDownloadDetailWidget *m_downloadDetailWidget = nullptr;
    BackupRestoreModeMainWidget *m_backupRestoreWidget = nullptr;
    QLabel *m_errorWidget = nullptr;
    USBLCDKeyThread *m_usbLCDKeyThread = nullptr;
    bool m_usbLCDPresent = false;
    int m_screenSizePercent = 100;
    int m_pendingFormatDrive = 0;
    // The process-wide instance the back-up screen reads as well.
    BoardServices &m_boardServices = BoardServices::shared();
    QStringList m_consoleAcceptedInputs;
    QStringList m_consoleLines;
    QMap<QString, QString> m_autoInstallChoices;
    int m_osDownloadedTimes = 0;
    int m_backupAndRestoreTimes = 0;
    TargetDevice m_targetDevice;
};
