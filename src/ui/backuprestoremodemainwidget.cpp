#include "ui/backuprestoremodemainwidget.h"

#include <QDebug>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QVBoxLayout>

#include "backup/backupfilenames.h"
#include "backup/backupscripts.h"
#include "backup/onboardflashbackupandrestorefinishthreadevent.h"
#include "backup/onboardflashbackupandrestorespeedevent.h"
#include "backup/onboardflashbackupandrestorethread.h"
#include "backup/onboardflashbackupandrestorethreadevent.h"
#include "backup/udiskstatus.h"
#include "board/boardhardwareinfo.h"
#include "frontend/boardservices.h"
#include "frontend/consolescreen.h"
#include "frontend/usblcdevent.h"
#include "startup/globals.h"
#include "ui/boardserviceactions.h"
#include "ui/brprogresswidget.h"
#include "ui/brselectorwidget.h"
#include "ui/myinputdialog.h"
#include "ui/tmainwidget.h"
#include "ui/tosselectwidget.h"
#include "util/log2file.h"
#include "util/qpaths.h"

static void initBackupResources()
{
    Q_INIT_RESOURCE(backup);
}

namespace {

const char *const kReturnPrompt = "Enter \"c\" to return.";

QString onboardKind()
{
    return gCurrentBoardInfo ? gCurrentBoardInfo->getOnboardFlashType() : QStringLiteral("eMMC Flash");
}

void consoleScreen(const QString &title, const QStringList &messages, const QString &prompt)
{
    ConsoleScreen::build(title, messages, prompt).show();
}

void lcd(const QStringList &lines)
{
    USBLCDEvent::showTextToUSBLCD(lines, lines, false);
}

} // namespace

BackupRestoreModeMainWidget::BackupRestoreModeMainWidget(QWidget *parent) : QWidget(parent)
{
    initBackupResources();
    setObjectName(QStringLiteral("backupRestoreModeMainWidget"));
    m_selector = new BRSelectorWidget(this);
    m_progress = new BRProgressWidget(this);
    m_progress->hide();
    m_inputDialog = new MyInputDialog(this);
    m_backButton = new QPushButton(tr("Back"), this);
    m_backButton->setObjectName(QStringLiteral("backupRestoreBackButton"));
    m_backButton->setMinimumHeight(48);
    m_engine = new OnboardFlashBackupAndRestoreThread(this);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->addWidget(m_selector, 1);
    layout->addWidget(m_progress, 1);
    layout->addWidget(m_backButton, 0, Qt::AlignLeft);

    connect(m_backButton, &QPushButton::clicked, this, &BackupRestoreModeMainWidget::backButtonPressed);
    connect(m_selector, &BRSelectorWidget::targetChosen, this, &BackupRestoreModeMainWidget::switchTargetDevice);
    connect(m_selector, &BRSelectorWidget::backupButtonClicked, this, &BackupRestoreModeMainWidget::backupButtonClicked);
    connect(m_selector, &BRSelectorWidget::formatUDiskButtonClicked, this,
            &BackupRestoreModeMainWidget::formatUDiskButtonClicked);
    connect(m_selector, &BRSelectorWidget::formatTFCardButtonClicked, this,
            &BackupRestoreModeMainWidget::formatTFCardButtonClicked);
    connect(m_inputDialog, &QDialog::accepted, this, &BackupRestoreModeMainWidget::inputBackupFileNameReadly);
    connect(m_inputDialog, &QDialog::rejected, this, &BackupRestoreModeMainWidget::resetView);
    connect(m_progress, &BRProgressWidget::userClickCancelButtonSignal, this, [this] { cancel(true); });
    connect(m_progress, &BRProgressWidget::userClickFinishButtonSignal, this, &BackupRestoreModeMainWidget::finishClicked);
    connect(m_engine, &QThread::finished, this, &BackupRestoreModeMainWidget::engineFinished);
    // Media came or went: what the selector says may have changed.
    connect(this, &BackupRestoreModeMainWidget::usbDevicesStateChangedSignal, this, [this] {
        if (!isWorking())
            resetView();
    });
    connect(this, &BackupRestoreModeMainWidget::usbMediaMountStatusChangedSignal, this, [this] {
        if (!isWorking())
            resetView();
    });
}

BackupRestoreModeMainWidget::~BackupRestoreModeMainWidget()
{
    // The job holds the device and the image file: let it stop on its own.
    if (m_engine->isRunning()) {
        m_engine->cancel();
        m_engine->wait();
    }
}

void BackupRestoreModeMainWidget::refreshMedia()
{
    gUdiskStatus.reCalcUdiskStatus();
    gUdiskStatus.reCalcAvailableSize();
    BoardServices::shared().reCalcTFCardSize();
}

void BackupRestoreModeMainWidget::resetView()
{
    if (isWorking())
        return;
    refreshMedia();
    m_progress->hide();
    m_selector->show();
    m_selector->setChosen(m_targetKind);
    m_backButton->setEnabled(true);
}

void BackupRestoreModeMainWidget::switchTargetDevice(int kind)
{
    if (kind != 1 && kind != 2)
        return;
    m_targetKind = kind;
    m_selector->setChosen(kind);
}

QString BackupRestoreModeMainWidget::genBackupFileName(int kind) const
{
    return BackupFileNames::genBackupFileName(kind);
}

bool BackupRestoreModeMainWidget::isWorking() const
{
    return m_engine->isRunning();
}

void BackupRestoreModeMainWidget::backupButtonClicked()
{
    if (isWorking()) {
        QMessageBox::information(this, tr("Warning"), tr("A background service is in progress."), QMessageBox::Ok);
        return;
    }
    m_selector->hide();
    m_inputDialog->open(tr("Please input full filename to save flash data"), genBackupFileName(m_targetKind));
}

void BackupRestoreModeMainWidget::inputBackupFileNameReadly()
{
    const QString path = m_inputDialog->textValue().trimmed();
    if (path.isEmpty())
        return;
    if (!BackupFileNames::isWritable(path)) {
        QMessageBox::information(this, tr("Error"), tr("Can't write file: %1.").arg(path));
        resetView();
        return;
    }
    const int medium = BackupFileNames::mediumOfPath(path);
    if (medium != 0)
        switchTargetDevice(medium);
    startBackupToFile(path);
}

void BackupRestoreModeMainWidget::startBackupToFile(const QString &path)
{
    if (isWorking() || path.isEmpty())
        return;
    const QString where = m_targetKind == 2 ? QStringLiteral("USB disk")
        : (m_targetKind == 1 ? QStringLiteral("TF card") : QStringLiteral("Unknow"));
    m_selector->hide();
    m_inputDialog->hide();
    m_progress->prepare(tr("Backing up %1 to %2").arg(onboardKind(), path),
                        tr("Backing up %1 to %2 ...").arg(onboardKind(), where), gOnboardFlashSize * 1024);
    m_progress->show();
    consoleScreen(QStringLiteral("Backing up %1 to %2").arg(onboardKind(), path), {QStringLiteral("Please wait ...")},
                  QStringLiteral("Enter \"c\" to cancel."));
    lcd({QStringLiteral("Backing up %1").arg(onboardKind())});
    m_imagePath = path;
    m_jobActive = true;
    m_jobDone = false;
    m_cancelling = false;
    OnboardFlashBackupAndRestoreThread::currentAction = 1;
    m_engine->setImageFilePath(path);
    m_engine->setMediaKind(m_targetKind);
    m_engine->setEventReceiver(gMainWidget ? static_cast<QObject *>(gMainWidget) : this);
    m_engine->startJob();
    m_backButton->setEnabled(false);
}

void BackupRestoreModeMainWidget::handleProgressEvent(QEvent *event)
{
    auto *e = static_cast<OnboardFlashBackupAndRestoreThreadEvent *>(event);
    if (!m_jobActive)
        return;   // left over from a cancelled copy
    if (e->isError()) {
        m_jobActive = false;
        m_progress->showError(e->message());
        consoleScreen(QStringLiteral("Error"), {e->message()}, QLatin1String(kReturnPrompt));
        lcd({QStringLiteral("Error"), QString(), QStringLiteral("Backup failed")});
        m_backButton->setEnabled(true);
        return;
    }
    m_progress->setPercent(e->percent());
    lcd({QStringLiteral("Backing up %1").arg(onboardKind()), QStringLiteral("%1%").arg(e->percent())});
}

void BackupRestoreModeMainWidget::customEvent(QEvent *event)
{
    switch (static_cast<int>(event->type())) {
    case OnboardFlashBackupAndRestoreThreadEvent::ONBOARDFLASH_BR_EVENT_TYPE:
        handleProgressEvent(event);
        break;
    case OnboardFlashBackupAndRestoreSpeedEvent::ONBOARDFLASH_BR_SPEED_EVENT_TYPE:
        handleSpeedEvent(event);
        break;
    case OnboardFlashBackupAndRestoreFinishThreadEvent::ONBOARDFLASH_BR_FINISH_EVENT_TYPE:
        handleFinishEvent(event);
        break;
    default:
        QWidget::customEvent(event);
    }
}

void BackupRestoreModeMainWidget::handleSpeedEvent(QEvent *event)
{
    auto *e = static_cast<OnboardFlashBackupAndRestoreSpeedEvent *>(event);
    if (m_jobActive)
        m_progress->setSpeed(e->bytesDone(), e->bytesTotal(), e->elapsedMs());
}

void BackupRestoreModeMainWidget::handleFinishEvent(QEvent *)
{
    if (!m_jobActive)
        return;
    m_jobActive = false;
    m_jobDone = true;
    BoardServices::reNewCurrentOSInfo();
    if (gCurrentOSInOnboardFlash == QLatin1String("linux")) {
        QFile cleanup(QStringLiteral(":/cleanup_rootfs.sh"));
        const QByteArray script = cleanup.open(QIODevice::ReadOnly) ? cleanup.readAll() : QByteArray();
        if (!BackupFileNames::writeScriptDirectory(m_imagePath, script))
            log2file("cannot fill %s.d\n", qPrintable(m_imagePath));
    }
    if (gMainWidget && gMainWidget->osSelectWidget())
        gMainWidget->osSelectWidget()->reloadImageFiles();
    m_progress->uiToAllDone();
    refreshMedia();
    m_selector->setChosen(m_targetKind);
    m_backButton->setEnabled(true);
    lcd({QStringLiteral("Finish!")});
    consoleScreen(QStringLiteral("Finish."), {}, QLatin1String(kReturnPrompt));
}

void BackupRestoreModeMainWidget::finishClicked()
{
    m_jobDone = false;
    resetView();
    emit backButtonPressed();
}

void BackupRestoreModeMainWidget::cancel(bool ask)
{
    if (!isWorking()) {
        emit cancelButtonClicked();
        return;
    }
    if (ask && QMessageBox::question(this, tr("Question"), tr("Cancel?"), QMessageBox::Yes | QMessageBox::No) !=
            QMessageBox::Yes)
        return;
    consoleScreen(QStringLiteral("Canceling"), {QStringLiteral("Canceling process operation. Please wait ...")},
                  QString());
    // The job stops between chunks, lets go of the image and deletes it;
    // the screen returns once the thread has ended (engineFinished).
    m_jobActive = false;
    m_cancelling = true;
    m_progress->setStatus(tr("Canceling process operation. Please wait ..."));
    m_engine->cancel();
}

void BackupRestoreModeMainWidget::engineFinished()
{
    if (!m_cancelling)
        return;
    m_cancelling = false;
    m_backButton->setEnabled(true);
    resetView();
    emit cancelButtonClicked();
}

bool BackupRestoreModeMainWidget::confirm(const QString &title, const QString &text, const QString &yes)
{
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::NoButton, this);
    QPushButton *yesButton = box.addButton(yes, QMessageBox::AcceptRole);
    box.addButton(tr("No"), QMessageBox::RejectRole);
    box.exec();
    return box.clickedButton() == yesButton;
}

void BackupRestoreModeMainWidget::formatUDiskButtonClicked()
{
    if (confirm(tr("Format USB Drive"),
                tr("Format your drive as ext4. All data on the drive will be lost. Do you want to continue?"),
                tr("Yes, Format")))
        formatUSBDrive();
}

void BackupRestoreModeMainWidget::formatTFCardButtonClicked()
{
    if (confirm(tr("Format TF card"),
                tr("Format your TF card to its original size, all data on the exFAT partition will be lost. Do you "
                   "want to continue?"),
                tr("Yes, Format and adjust size")))
        formatTFCard();
}

void BackupRestoreModeMainWidget::formatUSBDrive()
{
    const QString drive = gCurrentBoardInfo ? gCurrentBoardInfo->getUdiskDevName() : QString();
    if (drive.isEmpty() || isWorking())
        return;
    gUdiskStatus.reCalcUdiskStatus();
    formatDrive(2, BackupScripts::usbFormatScript(drive, gCurrentBoardInfo->getUdiskPartitionName(),
                                                  gUdiskStatus.isMounted()));
}

void BackupRestoreModeMainWidget::formatTFCard()
{
    if (isWorking())
        return;
    const QString partition = gCurrentBoardInfo ? gCurrentBoardInfo->getSDCardFatPartitionFullName()
                                                : QStringLiteral("/dev/mmcblk0p1");
    formatDrive(1, BackupScripts::tfFormatScript(BoardServices::tfCardDevName(), partition, gSDCardPath));
}

void BackupRestoreModeMainWidget::formatDrive(int drive, const QString &script)
{
    const QString file = QLatin1String(drive == 2 ? BackupScripts::USBFormatScriptFile : BackupScripts::TFFormatScriptFile);
    const QString title = drive == 2 ? QStringLiteral("Formatting USB Drive") : QStringLiteral("Formatting TF card");
    if (!BackupScripts::writeScript(file, script)) {
        QMessageBox::information(this, tr("Error"), tr("Can't write file: %1.").arg(file));
        return;
    }
    consoleScreen(title, {QStringLiteral("Please wait ...")}, QString());
    runScript(title, sysPath(file));
    consoleScreen(QStringLiteral("Finish"), {}, QLatin1String(kReturnPrompt));
    QFile::remove(sysPath(file));
    emit formatDone(drive);
    resetView();
}

bool BackupRestoreModeMainWidget::makeOnboardFlashCustomeScript(const QString &scriptFile, const QString &bootDev,
                                                                const QString &rootDev, const QString &dataDev,
                                                                const QString &scriptDir, const QStringList &scripts)
{
    return BackupScripts::makeOnboardFlashCustomeScript(scriptFile, bootDev, rootDev, dataDev, scriptDir, scripts);
}

int BackupRestoreModeMainWidget::runScript(const QString &title, const QString &scriptFile)
{
    return BoardServiceActions::runScriptDialog(this, title, scriptFile);
}
