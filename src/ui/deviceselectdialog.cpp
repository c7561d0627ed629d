#include "ui/deviceselectdialog.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "frontend/targetcandidates.h"
#include "ui/installscreenresources.h"
#include "ui/targetdevicebutton.h"

DeviceSelectDialog::DeviceSelectDialog(QWidget *parent, int type, const TargetDevice &current)
    : QDialog(parent), m_dev(current)
{
    setObjectName(QStringLiteral("deviceSelectDialog"));
    setWindowTitle(QStringLiteral("Select device"));
    setStyleSheet(QStringLiteral("QDialog { background: #F5F6F8; } QLabel { color: #1F2328; }"));
    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(8);

    QString title = QStringLiteral("Unknow type");
    if (type == TargetCandidates::BootDevice)
        title = QStringLiteral("Please select boot device:");
    else if (type == TargetCandidates::SystemDevice)
        title = QStringLiteral("Please select system/rootfs device:");
    auto *label = new QLabel(title, this);
    label->setObjectName(QStringLiteral("deviceSelectLabel"));
    QFont f = label->font();
    f.setBold(true);
    label->setFont(f);
    layout->addWidget(label);

    const int width = parent ? qMin(parent->width(), 400) : 400;
    const int height = parent && parent->height() >= 500 ? 50 : 34;
    const QList<TargetDevice> devices = TargetCandidates::candidates(type);
    for (int i = 0; i < devices.size(); ++i) {
        const TargetDevice dev = devices.at(i);
        auto *button = new TargetDeviceButton(QString(), this);
        button->setObjectName(QStringLiteral("candidate%1").arg(i));
        button->setDev(dev);
        button->setFixedSize(width, height);
        connect(button, &QPushButton::clicked, this, [this, dev]() {
            m_dev = dev;
            accept();
        });
        layout->addWidget(button);
    }
    auto *cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setStyleSheet(InstallScreenResources::styleSheet(QStringLiteral(":/button_cancel.css")));
    cancel->setFixedSize(width, height);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    layout->addWidget(cancel);
}
