// What the back-up target selector shows for the chosen medium: the status
// line (the first problem found), the size line, which buttons are usable.
// Decided here without widgets so every state can be checked headless.
#pragma once

#include <QString>
#include <QtGlobal>

class UDiskStatus;

// One medium as the selector sees it. Sizes in KiB.
struct BackupMedium
{
    bool present = true;
    bool mounted = false;
    bool readOnly = false;
    QString fsType;
    qint64 totalSize = 0;
    qint64 availableSize = 0;   // 0 when unknown

    static BackupMedium fromUDisk(const UDiskStatus &status);
    // The TF card's data partition mounted at `mountPoint` (gSDCardPath),
    // with the sizes the main controller computed.
    static BackupMedium tfCard(const QString &mountPoint, qint64 totalKiB, qint64 freeKiB);
};

struct BRSelectorView
{
    QString status;          // empty when nothing is wrong
    bool statusIsError = false;
    QString sizeText;
    bool sizeIsError = false;
    bool backupEnabled = false;
    bool showUDiskFormat = false;
    bool showTFCardFormat = false;
};

class BRSelectorRules
{
public:
    static constexpr int TFCard = 1;
    static constexpr int USBDisk = 2;

    // `onboardKind` is "eMMC Flash" or "UFS Device"; `onboardKiB` is
    // gOnboardFlashSize.
    static BRSelectorView view(int chosen, qint64 onboardKiB, const QString &onboardKind,
                               const BackupMedium &usb, const BackupMedium &tf);

    // The refusal shown when the back-up button is pressed with too little
    // free space on the chosen medium (free space known and smaller than the
    // onboard storage); "" lets the back-up go on. `tfPartition` names the
    // card's partition in the card's message.
    static QString backupRefusal(int chosen, qint64 onboardKiB, const BackupMedium &medium,
                                 const QString &tfPartition);
};
