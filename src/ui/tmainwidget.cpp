#include "ui/tmainwidget.h"

#include "board/boardhardwareinfo.h"
#include "frontend/consolelinkevent.h"
#include "frontend/consolelinkmessageevent.h"
#include "frontend/controllerconsolescreens.h"
#include "frontend/maincontrollerobject.h"
#include "frontend/usblcdevent.h"
#include "frontend/usblcdkeyevent.h"
#include "install/sdupdatefinishthreadevent.h"
#include "install/sdupdatethreadevent.h"
#include "install/sdupdatethreadlowformatevent.h"
#include "install/sdupdatethreadspeedevent.h"
#include "startup/globals.h"
#include "startup/imgsmithconf.h"
#include "ui/backuprestoremodemainwidget.h"
#include "ui/consolelink.h"
#include "ui/tdownloaddetailwidget.h"
#include "ui/tosselectwidget.h"
#include "ui/usblcd.h"
#include "ui/usblcdkeythread.h"
#include "util/qpaths.h"
#include "util/util.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <QLabel>
#include <QMutexLocker>
#include <QTimer>

namespace {

// The back-up engine's events; their classes live with the back-up job.
constexpr int kBackupProgressEventType = 1200;
constexpr int kBackupSpeedEventType = 1201;
constexpr int kBackupFinishEventType = 1202;

// HD44780 address-setting commands of the four rows, in row order.
constexpr unsigned char kLCDRowCommands[4] = {0x80, 0xA8, 0x94, 0xD4};
constexpr int kLCDColumns = 20;

void debugLog(const char *text)
{
    if (debugMode())
        qDebug() << text;
}

} // namespace

TMainWidget::TMainWidget(QWidget *parent) : QWidget(parent)
{
    // The library is static: without this reference the linker would drop
    // the compiled-in icons and style sheets.
    Q_INIT_RESOURCE(imgsmith);
    setObjectName(QStringLiteral("mainWidget"));
    m_screenSizePercent = 100;
    m_pendingFormatDrive = 0;
    m_screenSizePercent = readScreenSizePercent();
    gMainWidget = this;
    setMainControllerObject(this);

    if (Util::isMountPoint(gSDCardPath) == 1)
        m_boardServices.reCalcTFCardSize();

    m_usbLCDKeyThread = new USBLCDKeyThread(this);
    if (openUSBLCD()) {
        debugLog("Start USB KEY thread");
        m_usbLCDKeyThread->startPolling();
    }

    m_osSelectWidget = new TOSSelectWidget(this);
    m_downloadDetailWidget = new TDownloadDetailWidget(this);
    m_backupRestoreWidget = new BackupRestoreModeMainWidget(this);
    connectScreens();
    m_downloadDetailWidget->hide();
    m_backupRestoreWidget->hide();
    setStyleSheet(QStringLiteral("TMainWidget { background: #F5F6F8; }"));
    setAttribute(Qt::WA_StyledBackground, true);
}

TMainWidget::~TMainWidget()
{
    if (m_usbLCDKeyThread->isRunning()) {
        m_usbLCDKeyThread->requestStop();
        m_usbLCDKeyThread->wait();
    }
    if (m_usbLCDPresent) {
        QMutexLocker lock(&mUSBLCDMutex);
        release_usblcd();
    }
    setMainControllerObject(nullptr);
    if (gMainWidget == this)
        gMainWidget = nullptr;
}

void TMainWidget::connectScreens()
{
    TOSSelectWidget *select = m_osSelectWidget;
    TDownloadDetailWidget *detail = m_downloadDetailWidget;
    BackupRestoreModeMainWidget *backup = m_backupRestoreWidget;

    connect(select, &TOSSelectWidget::osSelected, this, &TMainWidget::osSelected);
    connect(select, &TOSSelectWidget::osSelectedFromUSBLCD, this, &TMainWidget::osSelectedFromUSBLCD);
    connect(select, &TOSSelectWidget::osSelectedFromConsole, this, &TMainWidget::osSelectedFromConsole);
    connect(select, &TOSSelectWidget::userSayYesFromConsole, this, &TMainWidget::userSayYesFromConsole);
    connect(select, &TOSSelectWidget::userSayCancelFromConsole, this, &TMainWidget::userSayCancelFromConsole);
    connect(select, &TOSSelectWidget::userClickBackupRestoreButton, this, &TMainWidget::userClickBackupRestoreButton);
    connect(select, &TOSSelectWidget::userClickBackupRestoreMenuItem, this, &TMainWidget::userClickBackupRestoreButton);
    connect(select, &TOSSelectWidget::userClickSwitchEth0ToDHCPMenuItem, this,
            &TMainWidget::userClickSwitchEth0ToDHCPMenuItem);
    connect(select, &TOSSelectWidget::user1KeyBackupMenuItem, this, &TMainWidget::user1KeyBackupMenuItem);
    connect(select, &TOSSelectWidget::userSelectBackupFromConsole, this, &TMainWidget::userSelectBackupFromConsole);
    connect(select, &TOSSelectWidget::userSayFormatDriveFromConsole, this,
            &TMainWidget::userSayFormatDriveFromConsole);
    connect(select, &TOSSelectWidget::userConfirmFormatDriveFromConsole, this,
            &TMainWidget::userConfirmFormatDriveFromConsole);
    connect(select, &TOSSelectWidget::userOffAutoTaskFromConsole, this, &TMainWidget::userOffAutoTaskFromConsole);
    connect(select, &TOSSelectWidget::userSwitchBackupTargetFromConsole, this,
            &TMainWidget::userSwitchBackupTargetFromConsole);
    connect(select, &TOSSelectWidget::userSetAutoInstallOSFromConsole, this,
            &TMainWidget::userSetAutoInstallOSFromConsole);
    connect(select, &TOSSelectWidget::usbDevicesStateChangedSignal, this, &TMainWidget::usbDevicesStateChanged);
    connect(select, &TOSSelectWidget::usbMediaMountStatusChangedSignal, select,
            &TOSSelectWidget::usbMediaMountStatusChanged);
    connect(select, &TOSSelectWidget::userNeedShowAutoInstallOSMenuFromConsole, this,
            &TMainWidget::userNeedShowAutoInstallOSMenuFromConsole);
    connect(this, &TMainWidget::usblcdKeyPressed, select, &TOSSelectWidget::usblcdKeyPressed);
    connect(this, &TMainWidget::consoleLinkMessageReceived, select, &TOSSelectWidget::consoleLinkMessageReceived);
    connect(select, &TOSSelectWidget::simBackButtonPressedForDownloadUI, this,
            &TMainWidget::downloadDetailWidgetBackButtonPressed);
    connect(detail, &TDownloadDetailWidget::backButtonPressed, this, &TMainWidget::downloadDetailWidgetBackButtonPressed);
    connect(detail, &TDownloadDetailWidget::autoStartOSChanged, select, &TOSSelectWidget::autoStartOSChanged);
    connect(select, &TOSSelectWidget::simBackButtonPressedForBKUI, this,
            &TMainWidget::backupRestoreMainWidgetBackButtonPressed);
    connect(backup, &BackupRestoreModeMainWidget::backButtonPressed, this,
            &TMainWidget::backupRestoreMainWidgetBackButtonPressed);
    connect(backup, &BackupRestoreModeMainWidget::cancelButtonClicked, this,
            &TMainWidget::backupRestoreMainWidgetBackButtonPressed);
    connect(backup, &BackupRestoreModeMainWidget::formatDone, select, &TOSSelectWidget::formatDone);
    connect(select, &TOSSelectWidget::usbDevicesStateChangedSignal, backup,
            &BackupRestoreModeMainWidget::usbDevicesStateChangedSignal);
    connect(select, &TOSSelectWidget::usbMediaMountStatusChangedSignal, backup,
            &BackupRestoreModeMainWidget::usbMediaMountStatusChangedSignal);
}

bool TMainWidget::isJobRunning() const
{
    return (m_downloadDetailWidget && m_downloadDetailWidget->isFlashing())
        || (m_backupRestoreWidget && m_backupRestoreWidget->isWorking());
}

void TMainWidget::customEvent(QEvent *event)
{
    const int type = static_cast<int>(event->type());
    if (type == SDUpdateThreadEvent::SDUPDATE_EVENT_TYPE) {
        m_downloadDetailWidget->handleProgressEvent(event);
    } else if (type == SDUpdateFinishThreadEvent::SDUPDATE_FINISH_EVENT_TYPE) {
        m_downloadDetailWidget->handleFinishEvent(event);
    } else if (type == SDUpdateThreadSpeedEvent::SDUPDATE_SPEED_EVENT_TYPE) {
        m_downloadDetailWidget->handleSpeedEvent(event);
    } else if (type == SDUpdateThreadLowFormatEvent::SDUPDATE_LOWFORMAT_EVENT_TYPE) {
        const auto *e = static_cast<SDUpdateThreadLowFormatEvent *>(event);
        m_downloadDetailWidget->handleLowFormating(e->inProgress(), e->percent());
    } else if (type == kBackupProgressEventType) {
        m_backupRestoreWidget->handleProgressEvent(event);
    } else if (type == kBackupFinishEventType) {
        m_backupRestoreWidget->handleFinishEvent(event);
    } else if (type == kBackupSpeedEventType) {
        m_backupRestoreWidget->handleSpeedEvent(event);
    } else if (type == ConsoleLinkEvent::CONSOLELINK_EVENT_TYPE) {
        const auto *e = static_cast<ConsoleLinkEvent *>(event);
        m_consoleAcceptedInputs = e->acceptedInputs();
        sendTextToConsoleLink(e->lines());
    } else if (type == ConsoleLinkMessageEvent::CONSOLELINK_MESSAGE_EVENT_TYPE) {
        emit consoleLinkMessageReceived(static_cast<ConsoleLinkMessageEvent *>(event)->text());
    } else if (type == USBLCDEvent::USBLCD_EVENT_TYPE) {
        sendTextToUSBLCD(static_cast<USBLCDEvent *>(event)->lines());
    } else if (type == USBLCDKeyEvent::USBLCDKEY_EVENT_TYPE) {
        if (isJobRunning()) {
            debugLog("Now is flashing, ignore key pressed event.");
            return;
        }
        emit usblcdKeyPressed(static_cast<USBLCDKeyEvent *>(event)->key());
    } else {
        QWidget::customEvent(event);
    }
}

void TMainWidget::showOSSelected(const OSConfig &os, bool fromUSBLCD)
{
    if (m_errorWidget)
        m_errorWidget->hide();
    if (m_backupRestoreWidget->isVisible()) {
        debugLog("backupRestoreSelectWidget visible, skip.");
        return;
    }
    if (isJobRunning()) {
        debugLog("Now is flashing, skip.");
        return;
    }
    m_osSelectWidget->hide();
    m_downloadDetailWidget->loadUIForOS(os, fromUSBLCD);
    m_downloadDetailWidget->show();
    m_downloadDetailWidget->raise();
    if (fromUSBLCD) {
        // The LCD user (and a console "yes") has no preview to confirm.
        QTimer::singleShot(100, m_downloadDetailWidget, &TDownloadDetailWidget::nextButtonClicked);
    }
}

void TMainWidget::osSelected(const OSConfig &os)
{
    showOSSelected(os, false);
}

void TMainWidget::osSelectedFromConsole(const OSConfig &os)
{
    showOSSelected(os, false);
}

void TMainWidget::osSelectedFromUSBLCD(const OSConfig &os)
{
    showOSSelected(os, true);
}

void TMainWidget::userSayYesFromConsole(const OSConfig &os)
{
    showOSSelected(os, true);
}

void TMainWidget::userSayCancelFromConsole()
{
    if (m_downloadDetailWidget->isFlashing())
        m_downloadDetailWidget->cancelFlashing();
    else if (m_backupRestoreWidget->isVisible())
        m_backupRestoreWidget->cancel(false);
    else
        m_osSelectWidget->updateConsoleLink();
}

void TMainWidget::downloadDetailWidgetBackButtonPressed()
{
    Util::setStatusLEDHeartbeat();
    m_osSelectWidget->show();
    m_osSelectWidget->updateUSBLCDDisplay();
    m_osSelectWidget->updateConsoleLink();
    m_downloadDetailWidget->hide();
}

void TMainWidget::backupRestoreMainWidgetBackButtonPressed()
{
    m_backupRestoreWidget->hide();
    m_osSelectWidget->updateConsoleLink();
}

void TMainWidget::userClickBackupRestoreButton()
{
    if (isJobRunning()) {
        debugLog("Now is flashing, skip.");
        return;
    }
    if (m_downloadDetailWidget->isVisible()) {
        debugLog("downloadDetailWidget visible, skip.");
        return;
    }
    m_backupRestoreWidget->show();
    m_backupRestoreWidget->raise();
    m_backupRestoreWidget->resetView();
}

void TMainWidget::showErrorWidget(const QString &text)
{
    if (!m_errorWidget) {
        m_errorWidget = new QLabel(this);
        m_errorWidget->setObjectName(QStringLiteral("errorWidget"));
        m_errorWidget->setAlignment(Qt::AlignCenter);
        m_errorWidget->setWordWrap(true);
        m_errorWidget->setStyleSheet(
            QStringLiteral("QLabel { background: #FFFFFF; color: #C62828; border: 1px solid #DDE1E6;"
                           " border-radius: 8px; padding: 24px; }"));
        layoutScreens();
    }
    QFont f = font();
    f.setPixelSize(qMax(18, height() / 16));
    f.setBold(true);
    m_errorWidget->setFont(f);
    m_errorWidget->setText(text);
    m_errorWidget->raise();
    m_errorWidget->show();
}

void TMainWidget::scheduleAutoExit(int exitCode)
{
    QTimer::singleShot(1000, qApp, [exitCode] { QCoreApplication::exit(exitCode); });
}

void TMainWidget::sendTextToConsoleLink(const QStringList &lines)
{
    m_consoleLines = lines;
    if (gConsoleLink)
        gConsoleLink->displayTextToConsoleLink(lines);
}

void TMainWidget::sendTextToUSBLCD(const QStringList &lines)
{
    if (!m_usbLCDPresent)
        return;
    QMutexLocker lock(&mUSBLCDMutex);
    lcd_clear();
    lcd_home();
    for (int i = 0; i < 4 && i < lines.size(); ++i) {
        lcd_command(0x08, kLCDRowCommands[i]);
        const QByteArray row = lines.at(i).left(kLCDColumns).toLatin1();
        lcd_write(row.constData());
    }
    lcd_flush();
}

bool TMainWidget::openUSBLCD()
{
    QMutexLocker lock(&mUSBLCDMutex);
    m_usbLCDPresent = init_usblcd() == 0;
    return m_usbLCDPresent;
}

void TMainWidget::usbDevicesStateChanged()
{
    if (m_usbLCDPresent) {
        QMutexLocker lock(&mUSBLCDMutex);
        release_usblcd();
        m_usbLCDPresent = false;
    }
    if (openUSBLCD()) {
        if (!m_usbLCDKeyThread->isRunning()) {
            debugLog("Start USB KEY thread");
            m_usbLCDKeyThread->startPolling();
        }
    } else if (m_usbLCDKeyThread->isRunning()) {
        // Cooperative stop: the thread may hold the device mutex.
        m_usbLCDKeyThread->requestStop();
        m_usbLCDKeyThread->wait();
    }
}

void TMainWidget::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutScreens();
}

void TMainWidget::layoutScreens()
{
    const int w = width() * m_screenSizePercent / 100;
    const int h = height() * m_screenSizePercent / 100;
    const QRect content((width() - w) / 2, (height() - h) / 2, w, h);
    for (QWidget *screen : {static_cast<QWidget *>(m_osSelectWidget), static_cast<QWidget *>(m_downloadDetailWidget),
                            static_cast<QWidget *>(m_backupRestoreWidget), static_cast<QWidget *>(m_errorWidget)}) {
        if (screen)
            screen->setGeometry(content);
    }
}

bool TMainWidget::isHDMILinked() const
{
    return ::isHDMILinked();
}

int TMainWidget::readScreenSizePercent()
{
    m_screenSizePercent = ::readScreenSizePercent(m_screenSizePercent);
    return m_screenSizePercent;
}

void TMainWidget::resizeMainWidget()
{
    readScreenSizePercent();
    layoutScreens();
}

QString TMainWidget::readAutoFlashingImagePathOrRawFile() const
{
    return ::readAutoFlashingImagePathOrRawFile();
}
