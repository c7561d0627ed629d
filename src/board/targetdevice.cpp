#include "board/targetdevice.h"

TargetDevice::TargetDevice()
    : kind(TargetDeviceNone)
    , devName(QStringLiteral("null"))
{
}

TargetDevice::TargetDevice(int kind_, const QString &devName_, const QString &model_)
    : kind(kind_)
    , devName(devName_)
    , model(model_)
{
}

QString TargetDevice::getFullDevName() const
{
    return QStringLiteral("/dev/%1").arg(devName);
}

QString TargetDevice::kindName(int kind)
{
    switch (kind) {
    case TargetDeviceEMMC:
        return QStringLiteral("eMMC");
    case TargetDeviceUFS:
        return QStringLiteral("UFS");
    case TargetDeviceSDCard:
        return QStringLiteral("SD");
    case TargetDeviceUSBDisk:
        return QStringLiteral("USB");
    case TargetDeviceSATA:
        return QStringLiteral("SATA");
    case TargetDeviceNVMe:
        return QStringLiteral("NVMe");
    case TargetDeviceNone:
        return QStringLiteral("Null");
    default:
        return QStringLiteral("UNKNOW");
    }
}
