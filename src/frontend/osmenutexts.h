// The OS selection screen as text: the main console menu and the four lines
// of the USB LCD.
#pragma once

#include "frontend/consolescreen.h"
#include "frontend/brselectorrules.h"

#include <QString>
#include <QStringList>

struct OSMenuModel
{
    bool hasOnboardStorage = true;   // eMMC or UFS found
    QString onboardType;             // "eMMC Flash" / "UFS Device"
    qint64 onboardSizeKiB = 0;
    QString version;
    QString boardName;
    QStringList osNames;
    int backupTarget = 1;            // 1 TF card, 2 USB drive
    BackupMedium tf;
    BackupMedium usb;
    QString tfDevName;               // "/dev/mmcblk0p1"
    QString usbDevName;              // "/dev/sda1"
    QString backupFileName;
    QString autoInstallPath;         // empty: off
};

class OSMenuTexts
{
public:
    static ConsoleScreen consoleMenu(const OSMenuModel &m);
    // " (<text>)": the medium as the console menu describes it.
    static QString mediumText(const BackupMedium &m, const QString &devName, bool usbDrive);
    // Why a back-up to the chosen medium cannot start now, or empty.
    static QString backupWarning(const OSMenuModel &m);
    // `items`: the text of each set; `selected` from 0.
    static QStringList lcdMenu(bool hasOnboardStorage, const QString &onboardType, const QStringList &items,
                               int selected);
};
