#include "ui/brselectorwidget.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "backup/udiskstatus.h"
#include "board/boardhardwareinfo.h"
#include "frontend/boardservices.h"
#include "frontend/brselectorrules.h"
#include "startup/globals.h"

static QString onboardKind()
{
    return gCurrentBoardInfo ? gCurrentBoardInfo->getOnboardFlashType() : QStringLiteral("eMMC Flash");
}

static QPushButton *button(const QString &text, const char *name, QWidget *parent)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    b->setMinimumHeight(48);
    return b;
}

BRSelectorWidget::BRSelectorWidget(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("brSelectorWidget"));
    m_title = new QLabel(tr("Select backup target: "), this);
    m_title->setStyleSheet(QStringLiteral("font-weight: bold; font-size: 22px; color: #1F2328;"));
    m_tfButton = button(tr("TF card"), "brTFCardButton", this);
    m_usbButton = button(tr("USB disk"), "brUSBDiskButton", this);
    m_sizeLabel = new QLabel(this);
    m_sizeLabel->setObjectName(QStringLiteral("brSizeLabel"));
    m_sizeLabel->setWordWrap(true);
    m_statusLabel = new QLabel(this);
    m_statusLabel->setObjectName(QStringLiteral("brStatusLabel"));
    m_statusLabel->setWordWrap(true);
    m_backupButton = button(tr("Backup %1").arg(onboardKind()), "brBackupButton", this);
    m_backupButton->setStyleSheet(QStringLiteral("QPushButton { background: #1769AA; color: white; font-weight: bold; "
                                                 "border-radius: 8px; } QPushButton:pressed { background: #0F4F85; } "
                                                 "QPushButton:disabled { background: #DDE1E6; color: #59636E; }"));
    m_formatTFButton = button(tr("Format TF card to its original size"), "brFormatTFCardButton", this);
    m_formatUDiskButton = button(tr("Re-layout and format USB Drive"), "brFormatUDiskButton", this);

    auto *targets = new QHBoxLayout;
    targets->setSpacing(8);
    targets->addWidget(m_tfButton);
    targets->addWidget(m_usbButton);
    auto *formats = new QHBoxLayout;
    formats->setSpacing(8);
    formats->addWidget(m_formatTFButton);
    formats->addWidget(m_formatUDiskButton);
    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(8);
    layout->addWidget(m_title);
    layout->addLayout(targets);
    layout->addWidget(m_sizeLabel);
    layout->addWidget(m_statusLabel);
    layout->addStretch(1);
    layout->addLayout(formats);
    layout->addWidget(m_backupButton);

    connect(m_tfButton, &QPushButton::clicked, this, [this] { emit targetChosen(1); });
    connect(m_usbButton, &QPushButton::clicked, this, [this] { emit targetChosen(2); });
    connect(m_backupButton, &QPushButton::clicked, this, &BRSelectorWidget::backupButtonClickedSlot);
    connect(m_formatTFButton, &QPushButton::clicked, this, &BRSelectorWidget::formatTFCardButtonClicked);
    connect(m_formatUDiskButton, &QPushButton::clicked, this, &BRSelectorWidget::formatUDiskButtonClicked);
    setChosen(1);
}

void BRSelectorWidget::setChosen(int kind)
{
    if (kind != 1 && kind != 2)
        return;
    m_chosen = kind;
    m_tfButton->setEnabled(kind != 1);
    m_usbButton->setEnabled(kind != 2);
    resetView();
}

void BRSelectorWidget::setStatus(QLabel *label, const QString &text, bool error)
{
    label->setText(text);
    label->setStyleSheet(error ? QStringLiteral("color: #C62828;") : QStringLiteral("color: #59636E;"));
}

static BackupMedium tfCardMedium()
{
    const BoardServices &s = BoardServices::shared();
    return BackupMedium::tfCard(gSDCardPath, s.tfCardSize(), s.tfCardAvailableSize());
}

void BRSelectorWidget::resetView()
{
    m_backupButton->setText(tr("Backup %1").arg(onboardKind()));
    const BRSelectorView v = BRSelectorRules::view(m_chosen, gOnboardFlashSize, onboardKind(),
                                                   BackupMedium::fromUDisk(gUdiskStatus), tfCardMedium());
    setStatus(m_sizeLabel, v.sizeText, v.sizeIsError);
    setStatus(m_statusLabel, v.status, v.statusIsError);
    m_backupButton->setEnabled(v.backupEnabled);
    m_formatUDiskButton->setVisible(v.showUDiskFormat);
    m_formatTFButton->setVisible(v.showTFCardFormat);
}

void BRSelectorWidget::backupButtonClickedSlot()
{
    const BackupMedium medium = m_chosen == 2 ? BackupMedium::fromUDisk(gUdiskStatus) : tfCardMedium();
    const QString partition = gCurrentBoardInfo ? gCurrentBoardInfo->getSDCardFatPartitionFullName() : QString();
    const QString refusal = BRSelectorRules::backupRefusal(m_chosen, gOnboardFlashSize, medium, partition);
    if (!refusal.isEmpty()) {
        setStatus(m_statusLabel, refusal, true);
        m_backupButton->setEnabled(false);
        return;
    }
    emit backupButtonClicked();
}
