#include "ui/tpreviewwidget.h"

#include <QCheckBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTextEdit>
#include <QVBoxLayout>

#include "frontend/installsummary.h"
#include "frontend/targetcandidates.h"
#include "startup/globals.h"
#include "startup/imgsmithconf.h"
#include "ui/deviceselectdialog.h"
#include "ui/targetdevicebutton.h"

TPreviewWidget::TPreviewWidget(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("previewWidget"));
    m_boot = TargetCandidates::defaultTarget();
    m_system = m_boot;

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);

    auto *targets = new QHBoxLayout;
    m_bootButton = new TargetDeviceButton(QStringLiteral("Boot:"), this);
    m_bootButton->setObjectName(QStringLiteral("bootDeviceButton"));
    m_systemButton = new TargetDeviceButton(QStringLiteral("System:"), this);
    m_systemButton->setObjectName(QStringLiteral("systemDeviceButton"));
    for (TargetDeviceButton *b : {m_bootButton, m_systemButton}) {
        b->setMinimumHeight(48);
        targets->addWidget(b);
    }
    layout->addLayout(targets);
    connect(m_bootButton, &QPushButton::clicked, this, &TPreviewWidget::selectBootDriveButtonClicked);
    connect(m_systemButton, &QPushButton::clicked, this, &TPreviewWidget::selectSystemDriveButtonClicked);

    m_logView = new QTextEdit(this);
    m_logView->setObjectName(QStringLiteral("logView"));
    m_logView->setReadOnly(true);
    QFont mono(QStringLiteral("DejaVu Sans Mono"));
    mono.setStyleHint(QFont::Monospace);
    mono.setFixedPitch(true);
    m_logView->setFont(mono);
    m_logView->setStyleSheet(QStringLiteral(
        "QTextEdit { background: #FFFFFF; border: 1px solid #DDE1E6; border-radius: 8px; padding: 6px; }"));
    layout->addWidget(m_logView, 1);

    m_editKernelParameterButton = new QPushButton(QStringLiteral("Edit kernel parameter"), this);
    m_editKernelParameterButton->setObjectName(QStringLiteral("editKernelParameterButton"));
    m_editKernelParameterButton->hide();

    // Two rows of options, so that four labels still fit beside the Next
    // button on an 800x480 panel without being cut.
    auto *options = new QGridLayout;
    options->setHorizontalSpacing(16);
    options->setVerticalSpacing(0);
    m_autoStart = new QCheckBox(QStringLiteral("Start automatically at startup"), this);
    m_autoStart->setObjectName(QStringLiteral("autoStartCheckBox"));
    m_lowFormat = new QCheckBox(QStringLiteral("Low format"), this);
    m_lowFormat->setObjectName(QStringLiteral("lowFormatCheckBox"));
    m_disableOverlayFs = new QCheckBox(QStringLiteral("Disable overlay filesystem"), this);
    m_disableOverlayFs->setObjectName(QStringLiteral("disableOverlayFsCheckBox"));
    m_verifyAfterWrite = new QCheckBox(QStringLiteral("Verify after writing"), this);
    m_verifyAfterWrite->setObjectName(QStringLiteral("verifyAfterWriteCheckBox"));
    int cell = 0;
    for (QCheckBox *c : {m_autoStart, m_lowFormat, m_disableOverlayFs, m_verifyAfterWrite}) {
        c->setMinimumHeight(48);
        options->addWidget(c, cell % 2, cell / 2);
        ++cell;
    }
    options->setColumnStretch(2, 1);
    m_next = new QPushButton(QStringLiteral("Next"), this);
    m_next->setObjectName(QStringLiteral("nextButton"));
    m_next->setMinimumSize(140, 48);
    m_next->setStyleSheet(QStringLiteral(
        "QPushButton { background: #1769AA; color: white; font-weight: bold; border: none; border-radius: 8px; }"
        "QPushButton:pressed { background: #0F4F85; }"));
    options->addWidget(m_editKernelParameterButton, 0, 3, 2, 1, Qt::AlignVCenter);
    options->addWidget(m_next, 0, 4, 2, 1, Qt::AlignVCenter);
    layout->addLayout(options);

    connect(m_autoStart, &QCheckBox::clicked, this, &TPreviewWidget::autoStartCheckboxChanged);
    connect(m_disableOverlayFs, &QCheckBox::clicked, this, &TPreviewWidget::disableOverlayFsCheckboxChanged);
    connect(m_lowFormat, &QCheckBox::clicked, this, &TPreviewWidget::reinitLogView);
    connect(m_next, &QPushButton::clicked, this, &TPreviewWidget::nextButtonClicked);
}

void TPreviewWidget::loadUIForOS(const OSConfig &os)
{
    m_os = os;
    const bool choosable = isSupportTargetDeviceSetting(os);
    m_bootButton->setVisible(true);
    m_systemButton->setVisible(choosable);
    m_bootButton->setEnabled(choosable);
    m_bootButton->setDev(m_boot);
    m_systemButton->setDev(m_system);
    m_autoStart->setChecked(os.isAutoStart());
    // A set that must not be erased, or a card that says so, offers no erase.
    const bool lowFormatAllowed = !os.noLowFormat && !globalIsDisabledLowFormatInConf();
    m_lowFormat->setEnabled(lowFormatAllowed);
    m_lowFormat->setChecked(lowFormatAllowed && globalIsNeedLowFormat());
    m_disableOverlayFs->setChecked(globalIsOverlayfsDisabled());
    m_disableOverlayFs->setEnabled(!globalIsOverlayfsDisabled());
    m_verifyAfterWrite->setChecked(globalIsVerifyAfterWriteInConf());
    reinitLogView();
}

bool TPreviewWidget::isLowFormat() const
{
    return m_lowFormat->isEnabled() && m_lowFormat->isChecked();
}

bool TPreviewWidget::isOverlayfsDisabled() const
{
    return m_disableOverlayFs->isChecked() || globalIsOverlayfsDisabled();
}

bool TPreviewWidget::isVerifyAfterWrite() const
{
    return m_verifyAfterWrite->isChecked();
}

bool TPreviewWidget::isTargetChoiceAllowed() const
{
    return !(m_boot.kind == TargetDeviceNone
             && (m_system.kind == TargetDeviceEMMC || m_system.kind == TargetDeviceUFS));
}

void TPreviewWidget::reinitLogView()
{
    InstallSummary summary(m_os, m_boot, m_system, getExcledeFilesList(), isOverlayfsDisabled());
    m_logView->setHtml(summary.html());
}

void TPreviewWidget::selectBootDriveButtonClicked()
{
    chooseDevice(TargetCandidates::BootDevice);
}

void TPreviewWidget::selectSystemDriveButtonClicked()
{
    chooseDevice(TargetCandidates::SystemDevice);
}

void TPreviewWidget::chooseDevice(int type)
{
    const TargetDevice current = type == TargetCandidates::BootDevice ? m_boot : m_system;
    DeviceSelectDialog dialog(window(), type, current);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const TargetDevice chosen = dialog.getDev();
    if (TargetCandidates::identity(chosen) == TargetCandidates::identity(current))
        return;
    if (type == TargetCandidates::BootDevice)
        setDevices(chosen, m_system);
    else
        setDevices(m_boot, chosen);
}

void TPreviewWidget::setDevices(const TargetDevice &boot, const TargetDevice &system)
{
    m_boot = boot;
    m_system = system;
    m_bootButton->setDev(m_boot);
    m_systemButton->setDev(m_system);
    reinitLogView();
    emit targetDeviceChanged(m_boot, m_system);
}

void TPreviewWidget::autoStartCheckboxChanged()
{
    QString value;
    if (m_autoStart->isChecked()) {
        value = m_os.osType == RawImage ? m_os.imagePath + QLatin1Char('/') + m_os.os_raw_img : m_os.imagePath;
        value = value.simplified();
    }
    setImgSmithConfAutoStart(value);
    emit autoStartOSChanged();
}

void TPreviewWidget::disableOverlayFsCheckboxChanged()
{
    reinitLogView();
}
