// Board-level services of the main controller that need no widget: the TF
// card's size and free space, the checks of the one-key back-up, switching
// eth0 to DHCP, re-reading the onboard system, and running the user's
// scripts after a restore. The controller keeps one instance and wires the
// results to message boxes, the console and the LCD.
#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>

class BoardServices
{
public:
    // Runs the wrapper script (a path below the simulation root when one is
    // set) with /bin/bash and returns its result; the controller shows it in
    // the script dialog.
    using ScriptRunner = std::function<int(const QString &wrapperFile)>;

    // The main controller's instance (the TF card figures live for the
    // process, like the controller itself).
    static BoardServices &shared();

    // "mmcblk0"; "mmcblk1" on RK3399 with kernel 4.19 or later.
    static QString tfCardDevName();

    // TF card size and free space in KiB (the unit of gOnboardFlashSize).
    void reCalcTFCardSize();            // free space first, then the size
    void reCalcTFCardAvailableSize();   // df of the card's data partition; 0 when unknown
    qint64 tfCardSize() const { return m_tfCardSize; }
    qint64 tfCardAvailableSize() const { return m_tfCardAvailableSize; }

    // One-key back-up onto the TF card: the card must exceed the onboard
    // storage by 2500000 KiB (checked before formatting it) and, once
    // formatted, have a free space of at least the onboard size.
    bool isTFCardTooSmallFor1KeyBackup() const;
    bool isTFCardShortOfSpaceFor1KeyBackup() const;
    static QStringList tooSmallLCDLines();   // "Error", "", "please use", "a larger TF card"
    static QString tooSmallConsoleText();
    static QString tooSmallMessage();         // with the storage's size
    QString shortOfSpaceConsoleText() const;

    // Writes /etc/network/interfaces and /etc/network/interfaces.d/eth0 for
    // DHCP on eth0. False when a file could not be written.
    static bool dhcp();

    // Re-reads the onboard storage's partitions into gOnboardFlashLabels /
    // gOnboardFlashFSTypes and sets gCurrentOSInOnboardFlash again.
    static void reNewCurrentOSInfo();
    // RK3399 boards cannot read a new partition table without a reboot.
    static bool isBoardUnableToReadPartition();

    // The ".sh" files of `scriptDirectory` run against the onboard Linux
    // through a wrapper written at `wrapperFile` (system paths). 0 when
    // there is nothing to run (no script, not a Linux system) or the
    // wrapper succeeded; -2 when the system's root partition is not known;
    // -1 when the wrapper could not be written; else the runner's result.
    static int doScriptsInPath(const QString &scriptDirectory, const QString &wrapperFile,
                               const ScriptRunner &runner);

private:
    qint64 m_tfCardSize = 0;
    qint64 m_tfCardAvailableSize = 0;
};
