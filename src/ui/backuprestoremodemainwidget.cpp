#include "ui/backuprestoremodemainwidget.h"

#include <QDebug>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
const char *const kUnavailable = "back-up screens are not available in this build";
}

BackupRestoreModeMainWidget::BackupRestoreModeMainWidget(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("backupRestoreModeMainWidget"));
    auto *layout = new QVBoxLayout(this);
    auto *label = new QLabel(tr("Back-up and restore are not available in this build."), this);
    label->setAlignment(Qt::AlignCenter);
    auto *back = new QPushButton(tr("Back"), this);
    back->setObjectName(QStringLiteral("backupRestoreBackButton"));
    layout->addWidget(label, 1);
    layout->addWidget(back, 0, Qt::AlignLeft);
    connect(back, &QPushButton::clicked, this, &BackupRestoreModeMainWidget::backButtonPressed);
}

void BackupRestoreModeMainWidget::handleProgressEvent(QEvent *)
{
    qWarning() << "BackupRestoreModeMainWidget::handleProgressEvent:" << kUnavailable;
}

void BackupRestoreModeMainWidget::handleSpeedEvent(QEvent *)
{
    qWarning() << "BackupRestoreModeMainWidget::handleSpeedEvent:" << kUnavailable;
}

void BackupRestoreModeMainWidget::handleFinishEvent(QEvent *)
{
    qWarning() << "BackupRestoreModeMainWidget::handleFinishEvent:" << kUnavailable;
}

void BackupRestoreModeMainWidget::switchTargetDevice(int kind)
{
    if (kind == 1 || kind == 2)
        m_targetKind = kind;
}

QString BackupRestoreModeMainWidget::genBackupFileName(int) const
{
    // Asked on every console menu refresh: no warning each time.
    return QString();
}

void BackupRestoreModeMainWidget::startBackupToFile(const QString &path)
{
    qWarning() << "BackupRestoreModeMainWidget::startBackupToFile(" << path << "):" << kUnavailable;
}

void BackupRestoreModeMainWidget::formatUSBDrive()
{
    qWarning() << "BackupRestoreModeMainWidget::formatUSBDrive:" << kUnavailable;
}

void BackupRestoreModeMainWidget::formatTFCard()
{
    qWarning() << "BackupRestoreModeMainWidget::formatTFCard:" << kUnavailable;
}

void BackupRestoreModeMainWidget::resetView()
{
}

bool BackupRestoreModeMainWidget::isWorking() const
{
    return false;
}

bool BackupRestoreModeMainWidget::isJobDone() const
{
    return false;
}

void BackupRestoreModeMainWidget::cancel(bool)
{
    emit cancelButtonClicked();
}
