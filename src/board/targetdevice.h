// The value that names an install or back-up target: a kind, the kernel's
// device name and the model text shown to the user. Copied freely.
#pragma once

#include <QMetaType>
#include <QString>

enum TargetDeviceKind {
    TargetDeviceEMMC = 1,       // onboard eMMC
    TargetDeviceUFS = 2,        // onboard UFS
    TargetDeviceSDCard = 3,     // SD card in a USB card reader
    TargetDeviceUSBDisk = 4,
    TargetDeviceSATA = 5,
    TargetDeviceNVMe = 6,
    TargetDeviceNone = 7,       // no target: the step is skipped
};

class TargetDevice
{
public:
    // No target: kind 7, device name "null".
    TargetDevice();
    TargetDevice(int kind, const QString &devName, const QString &model = QString());

    // "/dev/<devName>" as the running system names it.
    QString getFullDevName() const;
    // "eMMC", "UFS", "SD", "USB", "SATA", "NVMe", "Null", else "UNKNOW".
    QString kindName() const { return kindName(kind); }
    static QString kindName(int kind);
    bool isNone() const { return kind == TargetDeviceNone; }

    bool operator==(const TargetDevice &o) const
    {
        return kind == o.kind && devName == o.devName && model == o.model;
    }
    bool operator!=(const TargetDevice &o) const { return !(*this == o); }

    int kind;
    QString devName;            // without "/dev/": "mmcblk2", "sda", "nvme0n1"
    QString model;              // empty for the onboard kinds
};

Q_DECLARE_METATYPE(TargetDevice)
