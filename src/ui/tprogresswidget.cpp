#include "ui/tprogresswidget.h"

#include <QDebug>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include <cstdlib>

#include "board/boardhardwareinfo.h"
#include "frontend/installsummary.h"
#include "frontend/maincontrollerobject.h"
#include "frontend/postinstallsequence.h"
#include "install/sdupdatefinishthreadevent.h"
#include "install/sdupdatethread.h"
#include "install/sdupdatethreadevent.h"
#include "install/sdupdatethreadspeedevent.h"
#include "startup/globals.h"
#include "ui/controllerpostinstallservices.h"
#include "ui/frontendtext.h"
#include "ui/installscreenresources.h"
#include "util/log2file.h"
#include "util/util.h"

namespace {

bool isRockchipWithTwoPorts()
{
    return gCurrentBoardInfo && gCurrentBoardInfo->isRockchipCPU() && gCurrentBoardInfo->ethPortCount >= 2;
}

QPushButton *makeButton(const QString &text, const QString &name, QWidget *parent)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setMinimumSize(140, 48);
    return b;
}

} // namespace

TProgressWidget::TProgressWidget(QWidget *parent)
    : QWidget(parent),
      m_ownServices(new ControllerPostInstallServices(nullptr))
{
    setObjectName(QStringLiteral("progressWidget"));
    m_clock = [this]() { return m_elapsed.isValid() ? m_elapsed.elapsed() : 0; };
    m_services = m_ownServices.get();
    m_sequence = new PostInstallSequence(m_services, this);
    connect(m_sequence, &PostInstallSequence::stepText, this, &TProgressWidget::postInstallStep);
    connect(m_sequence, &PostInstallSequence::allStepsDone, this, &TProgressWidget::uiToAllDone);
    connect(m_sequence, &PostInstallSequence::stepsFailed, this, &TProgressWidget::postInstallFailed);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    layout->addStretch(1);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("statusLabel"));
    m_status->setWordWrap(true);
    m_status->setStyleSheet(QStringLiteral("color: #1F2328;"));
    layout->addWidget(m_status);
    m_bar = new QProgressBar(this);
    m_bar->setObjectName(QStringLiteral("progressBar"));
    m_bar->setRange(0, 100);
    m_bar->setTextVisible(true);
    m_bar->setFixedHeight(20);
    m_bar->setStyleSheet(QStringLiteral(
        "QProgressBar { background: #DDE1E6; border: none; border-radius: 10px; color: #1F2328; text-align: center; }"
        "QProgressBar::chunk { background: #1769AA; border-radius: 10px; }"));
    layout->addWidget(m_bar);
    auto *figures = new QHBoxLayout;
    m_speed = new QLabel(this);
    m_speed->setObjectName(QStringLiteral("speedLabel"));
    m_remaining = new QLabel(this);
    m_remaining->setObjectName(QStringLiteral("remainingLabel"));
    for (QLabel *l : {m_speed, m_remaining})
        l->setStyleSheet(QStringLiteral("color: #59636E;"));
    figures->addWidget(m_speed);
    figures->addStretch(1);
    figures->addWidget(m_remaining);
    layout->addLayout(figures);
    layout->addStretch(2);

    auto *buttons = new QHBoxLayout;
    m_cancelButton = makeButton(QStringLiteral("Cancel"), QStringLiteral("cancelButton"), this);
    m_cancelButton->setStyleSheet(InstallScreenResources::styleSheet(QStringLiteral(":/button_stop.css")));
    m_shutdownButton = makeButton(QStringLiteral("Shutdown"), QStringLiteral("shutdownButton"), this);
    m_finishButton = makeButton(QStringLiteral("Finish"), QStringLiteral("finishButton"), this);
    m_finishButton->setStyleSheet(InstallScreenResources::styleSheet(QStringLiteral(":/button_onekeybutton.css")));
    buttons->addWidget(m_cancelButton);
    buttons->addStretch(1);
    buttons->addWidget(m_shutdownButton);
    buttons->addWidget(m_finishButton);
    layout->addLayout(buttons);
    m_shutdownButton->hide();
    m_finishButton->hide();

    connect(m_cancelButton, &QPushButton::clicked, this, &TProgressWidget::cancelButtonClicked);
    connect(m_shutdownButton, &QPushButton::clicked, this, &TProgressWidget::shutdownButtonClickedSlot);
    connect(m_finishButton, &QPushButton::clicked, this, &TProgressWidget::finishButtonClickedSlot);
}

TProgressWidget::~TProgressWidget()
{
    // The job's destructor stops it cooperatively and waits for it.
    delete m_job;
    m_job = nullptr;
}

void TProgressWidget::setPostInstallServices(PostInstallServices *services)
{
    m_services = services ? services : m_ownServices.get();
    m_sequence->setServices(m_services);
}

void TProgressWidget::loadUIForOS(const OSConfig &os, const TargetDevice &boot, const TargetDevice &system)
{
    if (m_job && m_job->isRunning()) {
        QMessageBox::warning(this, QStringLiteral("Error"), QStringLiteral("Another thread is running..."));
        return;
    }
    delete m_job;
    m_os = os;
    m_boot = boot;
    m_system = system;
    m_cancelled = false;
    m_finishHandled = false;
    m_done = false;
    m_progress = InstallProgress(os);
    m_sequence->reset();
    m_elapsed.invalidate();
    m_status->clear();
    m_speed->clear();
    m_remaining->clear();
    m_bar->setValue(0);
    m_cancelButton->show();
    m_cancelButton->setEnabled(true);
    m_finishButton->hide();
    m_shutdownButton->hide();
    m_job = new SDUpdateThread(os, boot, system, this);
    connect(m_job, &QThread::finished, this, &TProgressWidget::sdUpdateThreadFinishedSlot);
}

bool TProgressWidget::isJobRunning() const
{
    return m_job && m_job->isRunning();
}

QString TProgressWidget::getFWSetenvCmd() const
{
    return PostInstallSequence::getFWSetenvCmd(m_os);
}

void TProgressWidget::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_job && !m_job->isRunning() && !m_job->isFinished())
        startJob();
}

void TProgressWidget::startJob()
{
    m_job->setLowFormat(m_lowFormat);
    m_job->setOverlayfsDisabled(m_overlayfsDisabled);
    m_job->setVerifyAfterWrite(m_verifyAfterWrite);
    m_job->setExcludedFiles(getExcledeFilesList());
    m_job->setEventReceiver(m_eventReceiver ? m_eventReceiver : mainControllerObject());
    m_progress.reset();
    m_job->start(QThread::InheritPriority);
    m_elapsed.start();
    Util::setStatusLEDQuickFlash();
    if (isRockchipWithTwoPorts())
        Util::setNetworkLEDAlwayOff();
    m_status->setText(QStringLiteral("Preparing ..."));
    FrontEndText::toLcd({InstallSummary::lcdShortTitle(m_os), QStringLiteral("Preparing ...")});
    FrontEndText::toConsole(m_progress.runningConsoleLines(QStringLiteral("Preparing ...")),
                            InstallProgress::runningConsoleInputs());
}

void TProgressWidget::targetDeviceChanged(const TargetDevice &boot, const TargetDevice &system)
{
    // The job refuses the change once it runs.
    if (m_job)
        m_job->updateDeviceChanged(boot, system);
}

void TProgressWidget::apply(const InstallScreenUpdate &u)
{
    if (!u.shown)
        return;
    if (u.percent >= 0)
        m_bar->setValue(u.percent);
    if (!u.status.isEmpty())
        m_status->setText(u.status);
    if (!u.speed.isEmpty())
        m_speed->setText(u.speed);
    if (!u.remaining.isEmpty())
        m_remaining->setText(u.remaining);
    if (!u.lcdLines.isEmpty())
        FrontEndText::toLcd(u.lcdLines);
    if (!u.consoleLines.isEmpty())
        FrontEndText::toConsole(u.consoleLines, u.consoleInputs);
}

void TProgressWidget::handleProgressEvent(QEvent *event)
{
    const auto *e = static_cast<SDUpdateThreadEvent *>(event);
    apply(m_progress.progress(*e));
    if (!e->isError())
        return;
    Util::setStatusLEDAlwaysOn();
    showFinishButtons(QStringLiteral("Back"));
    m_sequence->quitAfterFailureIfAutoExit();
}

void TProgressWidget::handleSpeedEvent(QEvent *event)
{
    apply(m_progress.speed(*static_cast<SDUpdateThreadSpeedEvent *>(event), m_clock()));
}

void TProgressWidget::handleLowFormating(bool inProgress, int percent)
{
    apply(m_progress.lowFormat(inProgress, percent));
}

void TProgressWidget::handleFinishEvent(QEvent *event)
{
    if (m_finishHandled)
        return;
    m_finishHandled = true;
    const auto *e = static_cast<SDUpdateFinishThreadEvent *>(event);
    m_boot = e->bootDevice();
    m_system = e->systemDevice();
    m_bar->setValue(100);
    m_speed->clear();
    m_remaining->clear();
    m_sequence->start(m_os, m_overlayfsDisabled);
}

void TProgressWidget::postInstallStep(const QString &status, const QStringList &lcd, const QStringList &console,
                                      const QStringList &inputs)
{
    m_status->setText(status);
    FrontEndText::toLcd(lcd);
    FrontEndText::toConsole(console, inputs);
}

void TProgressWidget::postInstallFailed()
{
    showFinishButtons(QStringLiteral("Back"));
}

void TProgressWidget::showFinishButtons(const QString &finishText)
{
    m_done = true;
    m_cancelButton->hide();
    m_finishButton->setText(finishText);
    m_finishButton->show();
    m_shutdownButton->show();
}

void TProgressWidget::cancelButtonClicked()
{
    if (QMessageBox::question(this, QStringLiteral("Question"), QStringLiteral("Cancel?"),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes)
        cancelFlashing();
}

// Cooperative: the job notices the flag between chunks, releases the device
// and ends with its one error event; finished() then takes us back.
void TProgressWidget::cancelFlashing()
{
    if (!m_job || !m_job->isRunning())
        return;
    FrontEndText::toLcd({QStringLiteral("Canceling ...")});
    FrontEndText::toConsole({QStringLiteral("Canceling process operation. Please wait ...")}, QStringList());
    m_status->setText(QStringLiteral("Canceling ..."));
    m_cancelled = true;
    m_job->cancel();
    m_cancelButton->setEnabled(false);
}

void TProgressWidget::sdUpdateThreadFinishedSlot()
{
    if (!m_job)
        return;
    m_job->deleteLater();
    m_job = nullptr;
    if (!m_cancelled)
        return;
    Util::setStatusLEDHeartbeat();
    if (isRockchipWithTwoPorts())
        Util::setNetworkLEDAlwayOff();
    emit backToListRequested();
}

void TProgressWidget::uiToAllDone()
{
    const bool rockchip = gCurrentBoardInfo && gCurrentBoardInfo->isRockchipCPU();
    const InstallProgress::Completion done = m_progress.completion(rockchip, m_boot);
    m_status->setText(done.status);
    m_speed->setText(done.averageSpeed);
    m_remaining->setText(done.totalTime);
    showFinishButtons(QStringLiteral("Finish"));
    FrontEndText::toLcd(done.lcdLines);
    FrontEndText::toConsole(done.consoleLines, done.consoleInputs);
    log2file("%s %s %s\n", qPrintable(done.status), qPrintable(done.averageSpeed), qPrintable(done.totalTime));
    m_sequence->runAllDoneActions();
}

void TProgressWidget::shutdownButtonClickedSlot()
{
    const QString storage = gCurrentBoardInfo ? gCurrentBoardInfo->getOnboardFlashType() : QString();
    QMessageBox box(QMessageBox::Question, QStringLiteral("Question"),
                    QStringLiteral("Are you sure you want to shut down? If you want to start the system from %1, "
                                   "please eject your SD card from the board.").arg(storage),
                    QMessageBox::NoButton, this);
    QPushButton *shutDown = box.addButton(QStringLiteral("Shut Down"), QMessageBox::AcceptRole);
    box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box.exec();
    if (box.clickedButton() != shutDown)
        return;
    if (system("poweroff") == -1)
        qDebug() << "fail to call system.";
}

void TProgressWidget::finishButtonClickedSlot()
{
    m_status->clear();
    m_services->reNewCurrentOSInfo();
    emit backToListRequested();
}
