#include "ui/targetdevicebutton.h"

#include <QFile>
#include <QPainter>
#include <QPixmap>

#include "frontend/targetcandidates.h"

TargetDeviceButton::TargetDeviceButton(const QString &prefix, QWidget *parent)
    : QPushButton(parent), m_prefix(prefix)
{
    setIconSize(QSize(24, 24));
    setStyleSheet(QStringLiteral(
        "QPushButton { background: #FFFFFF; color: #1F2328; border: 1px solid #DDE1E6; border-radius: 8px;"
        " padding: 4px 12px; text-align: left; }"
        "QPushButton:pressed { background: #E8F0F8; border-color: #1769AA; }"
        "QPushButton:disabled { color: #59636E; }"));
    setDev(TargetDevice());
}

void TargetDeviceButton::setDev(const TargetDevice &dev)
{
    m_dev = dev;
    setText(TargetCandidates::buttonText(m_prefix, dev));
    setIcon(kindIcon(dev.kind));
}

QString TargetDeviceButton::iconResource(int kind)
{
    switch (kind) {
    case TargetDeviceSDCard: return QStringLiteral(":/devicon-sd.png");
    case TargetDeviceUSBDisk: return QStringLiteral(":/devicon-usb.png");
    case TargetDeviceSATA:
    case TargetDeviceNVMe: return QStringLiteral(":/devicon-ssd.png");
    case TargetDeviceNone: return QStringLiteral(":/devicon-null.png");
    default: return QStringLiteral(":/devicon-onboardflash.png");
    }
}

QIcon TargetDeviceButton::kindIcon(int kind)
{
    const QString resource = iconResource(kind);
    if (QFile::exists(resource))
        return QIcon(resource);
    // A flat glyph on a rounded square, in the screens' primary colour.
    QPixmap pm(48, 48);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(kind == TargetDeviceNone ? QColor(0x59, 0x63, 0x6E) : QColor(0x17, 0x69, 0xAA));
    p.drawRoundedRect(QRectF(2, 2, 44, 44), 9, 9);
    p.setBrush(Qt::white);
    switch (kind) {
    case TargetDeviceSDCard: {
        const QPointF card[] = {{16, 10}, {30, 10}, {34, 14}, {34, 38}, {14, 38}, {14, 12}};
        p.drawPolygon(card, 6);
        break;
    }
    case TargetDeviceUSBDisk:
        p.drawRect(QRectF(18, 8, 12, 10));
        p.drawRoundedRect(QRectF(14, 18, 20, 22), 3, 3);
        break;
    case TargetDeviceSATA:
    case TargetDeviceNVMe:
        p.drawRoundedRect(QRectF(8, 17, 32, 14), 2, 2);
        break;
    case TargetDeviceNone:
        p.setPen(QPen(Qt::white, 4));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QRectF(13, 13, 22, 22));
        p.drawLine(QPointF(16, 32), QPointF(32, 16));
        break;
    default:
        p.drawRoundedRect(QRectF(12, 12, 24, 24), 3, 3);
        p.setBrush(QColor(0x17, 0x69, 0xAA));
        p.drawRect(QRectF(18, 18, 12, 12));
        break;
    }
    return QIcon(pm);
}
