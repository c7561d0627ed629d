#include "ui/tdownloaddetailwidget.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "frontend/installsummary.h"
#include "startup/globals.h"
#include "ui/controllerpostinstallservices.h"
#include "ui/frontendtext.h"
#include "ui/tpreviewwidget.h"
#include "ui/tprogresswidget.h"

TDownloadDetailWidget::TDownloadDetailWidget(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("downloadDetailWidget"));
    setAutoFillBackground(true);
    setStyleSheet(QStringLiteral("#downloadDetailWidget { background: #F5F6F8; }"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 12);
    layout->setSpacing(10);

    auto *head = new QHBoxLayout;
    m_back = new QPushButton(QStringLiteral("Back"), this);
    m_back->setObjectName(QStringLiteral("backButton"));
    m_back->setMinimumSize(96, 48);
    m_back->setStyleSheet(QStringLiteral(
        "QPushButton { background: #FFFFFF; color: #1769AA; border: 1px solid #DDE1E6; border-radius: 8px; }"));
    m_title = new QLabel(this);
    m_title->setObjectName(QStringLiteral("titleLabel"));
    QFont f = m_title->font();
    f.setPointSizeF(f.pointSizeF() * 1.6);
    f.setBold(true);
    m_title->setFont(f);
    m_title->setStyleSheet(QStringLiteral("color: #1F2328;"));
    head->addWidget(m_back);
    head->addWidget(m_title, 1);
    layout->addLayout(head);

    m_stack = new QStackedWidget(this);
    m_preview = new TPreviewWidget(m_stack);
    m_progress = new TProgressWidget(m_stack);
    m_stack->addWidget(m_preview);
    m_stack->addWidget(m_progress);
    layout->addWidget(m_stack, 1);

    m_controllerServices = new ControllerPostInstallServices(nullptr);
    m_progress->setPostInstallServices(m_controllerServices);

    connect(m_back, &QPushButton::clicked, this, &TDownloadDetailWidget::backButtonPressed);
    connect(m_preview, &TPreviewWidget::nextButtonClicked, this, &TDownloadDetailWidget::nextButtonClicked);
    connect(m_preview, &TPreviewWidget::autoStartOSChanged, this, &TDownloadDetailWidget::autoStartOSChanged);
    connect(m_preview, &TPreviewWidget::targetDeviceChanged, m_progress, &TProgressWidget::targetDeviceChanged);
    connect(m_progress, &TProgressWidget::backToListRequested, this, &TDownloadDetailWidget::osDownloadDone);
}

TDownloadDetailWidget::~TDownloadDetailWidget()
{
    // The progress view (and the job it owns) goes before the services it uses.
    delete m_stack;
    delete m_controllerServices;
}

void TDownloadDetailWidget::setEventReceiver(QObject *receiver)
{
    m_progress->setEventReceiver(receiver);
}

void TDownloadDetailWidget::setPostInstallServices(PostInstallServices *services)
{
    m_progress->setPostInstallServices(services ? services : m_controllerServices);
}

void TDownloadDetailWidget::loadUIForOS(const OSConfig &os, bool fromLcd)
{
    Q_UNUSED(fromLcd);
    if (isFlashing())
        return;
    m_os = os;
    m_preview->loadUIForOS(os);
    m_progress->loadUIForOS(os, m_preview->bootDevice(), m_preview->systemDevice());
    m_stack->setCurrentWidget(m_preview);
    m_back->show();
    m_title->setText(InstallSummary::readyTitle(os));

    const InstallSummary summary(os, m_preview->bootDevice(), m_preview->systemDevice(), getExcledeFilesList(),
                                 m_preview->isOverlayfsDisabled());
    FrontEndText::toLcd(summary.lcdLines(), summary.lcdStatusLines());
    FrontEndText::toConsole(summary.consoleLines(), InstallSummary::consoleInputs());
}

void TDownloadDetailWidget::nextButtonClicked()
{
    if (m_stack->currentWidget() != m_preview)
        return;
    if (!m_preview->isTargetChoiceAllowed()) {
        QMessageBox::information(this, QStringLiteral("Message"),
                                 QStringLiteral("Writing the rootfs alone is currently only supported on external "
                                                "storage devices, like USB devices and M.2 SSDs. It is not supported "
                                                "on onboard Flash."));
        return;
    }
    m_progress->setLowFormat(m_preview->isLowFormat());
    m_progress->setOverlayfsDisabled(m_preview->isOverlayfsDisabled());
    m_progress->setVerifyAfterWrite(m_preview->isVerifyAfterWrite());
    m_back->hide();
    m_title->setText(InstallSummary::installingTitle(m_os));
    // Showing the progress view starts the job.
    m_stack->setCurrentWidget(m_progress);
}

void TDownloadDetailWidget::cancelButtonClicked()
{
    m_progress->cancelButtonClicked();
}

void TDownloadDetailWidget::cancelFlashing()
{
    m_progress->cancelFlashing();
}

void TDownloadDetailWidget::osDownloadDone()
{
    m_stack->setCurrentWidget(m_preview);
    m_back->show();
    emit backButtonPressed();
}

bool TDownloadDetailWidget::isFlashing() const
{
    return m_progress->isJobRunning();
}

bool TDownloadDetailWidget::isInstallDone() const
{
    return m_stack->currentWidget() == m_progress && m_progress->isDone();
}

void TDownloadDetailWidget::handleProgressEvent(QEvent *event)
{
    m_progress->handleProgressEvent(event);
}

void TDownloadDetailWidget::handleSpeedEvent(QEvent *event)
{
    m_progress->handleSpeedEvent(event);
}

void TDownloadDetailWidget::handleLowFormating(bool inProgress, int percent)
{
    m_progress->handleLowFormating(inProgress, percent);
}

void TDownloadDetailWidget::handleFinishEvent(QEvent *event)
{
    m_progress->handleFinishEvent(event);
}
