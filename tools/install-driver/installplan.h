// What imgsmith-install is asked to do, checked before anything is written:
// the image set (a directory the scanner would accept, or a raw image file)
// and the two target devices, and the plan shown to the user.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdio>

#include "board/targetdevice.h"
#include "imageset/osconfig.h"

class InstallPlan
{
public:
    // Reads the image set at `setPath` (named as the running system names
    // it). On failure returns false with `error` saying why.
    bool loadImageSet(const QString &setPath, QString &error);
    // Kernel names; the system device defaults to the boot device, "none"
    // asks for no system device. False with `error` for a device that does
    // not exist.
    bool setDevices(const QString &bootName, const QString &systemName, QString &error);

    // The set, the devices and the files, as shown before the install and
    // as the whole answer without --yes.
    void print(FILE *out, const QStringList &excluded, bool lowFormat) const;

    // Whether the set has partitions of its own for the system device (a
    // split install): without a system device they are not written.
    bool splitsSystemPartitions() const;

    const OSConfig &config() const { return m_config; }
    const TargetDevice &bootDevice() const { return m_boot; }
    const TargetDevice &systemDevice() const { return m_system; }

    // A device value for a kernel name, its kind taken from sysfs.
    static TargetDevice deviceFromName(const QString &name);
    // "/dev/mmcblk2 (eMMC, 256 MB)".
    static QString describe(const TargetDevice &dev);

private:
    OSConfig m_config;
    QString m_setPath;
    TargetDevice m_boot;
    TargetDevice m_system;
};
