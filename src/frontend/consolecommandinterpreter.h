// What a line typed on the console client means on the screen on show: the
// command words in their fixed order, acted on only when that screen accepts
// the input.
#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

struct ConsoleCommand
{
    enum Kind {
        Ignored,          // not accepted, or nothing to act on
        Reboot,
        Poweroff,
        FormatUSBDrive,   // prompt for drive 2
        FormatTFCard,     // prompt for drive 1
        ConfirmFormat,
        AutoInstallOff,
        AutoRestoreOff,
        AutoInstallMenu,
        BackupTargetTF,
        BackupTargetUSB,
        StartBackup,
        SetAutoInstall,   // path: the set's path
        Yes,              // index: the set chosen last
        Cancel,
        No,
        ChooseOS,         // index: from 0
        Unknown,          // accepted but not a command word
    };
    Kind kind = Ignored;
    int index = -1;
    QString path;
};

class ConsoleCommandInterpreter
{
public:
    // `osCount` sets are listed; `lastChosen` is the index the last number
    // chose (-1 none); `autoInstallChoices` maps "af<n>" to a set's path.
    static ConsoleCommand interpret(const QString &input, const QStringList &acceptedInputs, int osCount,
                                    int lastChosen, const QMap<QString, QString> &autoInstallChoices);
    // Lower-cased, outer white space removed, inner runs reduced to one blank.
    static QString normalise(const QString &input);
};
