#include "ui/brprogresswidget.h"

#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "frontend/backupspeedtext.h"

BRProgressWidget::BRProgressWidget(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("brProgressWidget"));
    m_title = new QLabel(this);
    m_title->setObjectName(QStringLiteral("brProgressTitle"));
    m_title->setStyleSheet(QStringLiteral("font-weight: bold; font-size: 22px; color: #1F2328;"));
    m_title->setWordWrap(true);
    m_bar = new QProgressBar(this);
    m_bar->setObjectName(QStringLiteral("brProgressBar"));
    m_bar->setRange(0, 100);
    m_bar->setTextVisible(true);
    m_bar->setStyleSheet(QStringLiteral("QProgressBar { min-height: 18px; border-radius: 9px; background: #DDE1E6; "
                                        "text-align: center; } QProgressBar::chunk { border-radius: 9px; "
                                        "background: #1769AA; }"));
    m_speed = new QLabel(this);
    m_speed->setObjectName(QStringLiteral("brSpeedLabel"));
    m_time = new QLabel(this);
    m_time->setObjectName(QStringLiteral("brTimeLabel"));
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("brProgressStatus"));
    m_status->setWordWrap(true);
    m_button = new QPushButton(tr("Cancel"), this);
    m_button->setObjectName(QStringLiteral("brProgressButton"));
    m_button->setMinimumHeight(48);

    auto *figures = new QHBoxLayout;
    figures->addWidget(m_speed);
    figures->addStretch(1);
    figures->addWidget(m_time);
    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(8);
    layout->addWidget(m_title);
    layout->addStretch(1);
    layout->addWidget(m_bar);
    layout->addLayout(figures);
    layout->addWidget(m_status);
    layout->addStretch(1);
    layout->addWidget(m_button, 0, Qt::AlignLeft);
    connect(m_button, &QPushButton::clicked, this, [this] {
        if (m_done || m_failed)
            emit userClickFinishButtonSignal();
        else
            emit userClickCancelButtonSignal();
    });
}

void BRProgressWidget::prepare(const QString &title, const QString &status, qint64 totalBytes)
{
    Q_UNUSED(totalBytes);
    m_done = false;
    m_failed = false;
    m_title->setText(title);
    m_bar->setValue(0);
    m_speed->clear();
    m_time->setText(QStringLiteral("Remaining Time: --:--:--"));
    m_button->setText(tr("Cancel"));
    m_button->setStyleSheet(QString());
    setStatus(status);
}

void BRProgressWidget::setPercent(int percent)
{
    if (percent < 100)
        m_bar->setValue(percent);
}

void BRProgressWidget::setSpeed(qint64 bytesDone, qint64 bytesTotal, double elapsedMs)
{
    if (m_done || m_failed)
        return;
    const BackupSpeedText t = BackupSpeedText::compute(bytesDone, bytesTotal, elapsedMs);
    m_speed->setText(t.speed);
    m_time->setText(t.remaining);
}

void BRProgressWidget::showError(const QString &message)
{
    m_failed = true;
    m_title->setText(tr("Error"));
    m_status->setStyleSheet(QStringLiteral("color: #C62828;"));
    m_status->setText(message);
    m_button->setText(tr("Finish"));
}

void BRProgressWidget::uiToAllDone()
{
    m_done = true;
    m_bar->setValue(100);
    m_speed->clear();
    m_time->clear();
    setStatus(tr("All done."));
    m_button->setText(tr("Finish"));
    QFile css(QStringLiteral(":/button.css"));
    if (css.open(QIODevice::ReadOnly))
        m_button->setStyleSheet(QString::fromUtf8(css.readAll()));
}

void BRProgressWidget::setStatus(const QString &text)
{
    m_status->setStyleSheet(QStringLiteral("color: #1F2328;"));
    m_status->setText(text);
}

QString BRProgressWidget::status() const
{
    return m_status->text();
}
