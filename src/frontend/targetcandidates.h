// Which devices the install preview offers as boot or system target, in the
// order the device dialog lists them, and how a target is written on its
// button. Reads only the board's storage discovery.
#pragma once

#include <QList>
#include <QString>

#include "board/targetdevice.h"

class TargetCandidates
{
public:
    enum DialogType { BootDevice = 1, SystemDevice = 2 };

    // The preview's starting target: the onboard storage when the kernel
    // lists it (eMMC, or UFS as "sda"), else no device ("null").
    static TargetDevice defaultTarget();

    // Candidates for the dialog of `type`: the onboard storage when listed
    // (and selectable), every USB drive (card readers as kind 3), for the
    // system device also M.2 SATA and NVMe drives, and last the "null"
    // device. Debug lines name what was left out.
    static QList<TargetDevice> candidates(int type);

    // "<prefix> <name> (<kind>) [<size>]" with the model, when there is one,
    // in place of "/dev/<name>" (21 characters and "..." when longer than
    // 24); "<prefix> Skip Flashing" for the null device.
    static QString buttonText(const QString &prefix, const TargetDevice &dev);
    // "<name> (<kind>)" with a name cut to 11 characters and "..." when
    // longer than 14.
    static QString shortText(const TargetDevice &dev);

    // "type:<kind>-devname:<name>": two choices are the same target when
    // these agree.
    static QString identity(const TargetDevice &dev);

    // The long name of a device as the button shows it (see buttonText).
    static QString longName(const TargetDevice &dev);
};
