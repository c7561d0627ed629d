#include "ui/targetdevicebutton.h"


#include "frontend/targetcandidates.h"
#include "ui/installscreenresources.h"

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
    InstallScreenResources::init();
    return QIcon(iconResource(kind));
}
