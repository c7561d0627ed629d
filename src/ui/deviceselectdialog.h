// Lets the user pick the boot device (type 1) or the system/rootfs device
// (type 2) among the targets the board has, or "Skip Flashing".
#pragma once

#include <QDialog>

#include "board/targetdevice.h"

class DeviceSelectDialog : public QDialog
{
    Q_OBJECT
public:
    DeviceSelectDialog(QWidget *parent, int type, const TargetDevice &current);

    // The chosen device; the current one until a button was pressed.
    TargetDevice getDev() const { return m_dev; }

private:
    TargetDevice m_dev;
};
