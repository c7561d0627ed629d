// A button that names one install target: kind icon, device or model, kind
// and size, behind a prefix such as "Boot:".
#pragma once

#include <QPushButton>

#include "board/targetdevice.h"

class TargetDeviceButton : public QPushButton
{
    Q_OBJECT
public:
    explicit TargetDeviceButton(const QString &prefix, QWidget *parent = nullptr);

    void setDev(const TargetDevice &dev);
    TargetDevice getDev() const { return m_dev; }
    QString prefix() const { return m_prefix; }

    // ":/devicon-onboardflash.png", ":/devicon-usb.png"... by kind.
    static QString iconResource(int kind);
    // The kind's icon (scripts/gen-device-icons.py draws them).
    static QIcon kindIcon(int kind);

private:
    QString m_prefix;
    TargetDevice m_dev;
};
