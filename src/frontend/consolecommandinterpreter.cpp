#include "frontend/consolecommandinterpreter.h"

#include <QDebug>

QString ConsoleCommandInterpreter::normalise(const QString &input)
{
    return input.simplified().toLower();
}

ConsoleCommand ConsoleCommandInterpreter::interpret(const QString &input, const QStringList &acceptedInputs,
                                                    int osCount, int lastChosen,
                                                    const QMap<QString, QString> &autoInstallChoices)
{
    const QString cmd = normalise(input);
    ConsoleCommand c;
    if (!acceptedInputs.contains(cmd)) {
        qDebug().noquote() << QStringLiteral("    %1 is not allowed ").arg(cmd);
        return c;
    }
    static const QMap<QString, ConsoleCommand::Kind> words = {
        {QStringLiteral("reboot"), ConsoleCommand::Reboot},
        {QStringLiteral("poweroff"), ConsoleCommand::Poweroff},
        {QStringLiteral("fud"), ConsoleCommand::FormatUSBDrive},
        {QStringLiteral("ftf"), ConsoleCommand::FormatTFCard},
        {QStringLiteral("format"), ConsoleCommand::ConfirmFormat},
        {QStringLiteral("ioff"), ConsoleCommand::AutoInstallOff},
        {QStringLiteral("roff"), ConsoleCommand::AutoRestoreOff},
        {QStringLiteral("aui"), ConsoleCommand::AutoInstallMenu},
        {QStringLiteral("tf"), ConsoleCommand::BackupTargetTF},
        {QStringLiteral("usb"), ConsoleCommand::BackupTargetUSB},
        {QStringLiteral("bk"), ConsoleCommand::StartBackup},
        {QStringLiteral("cancel"), ConsoleCommand::Cancel},
        {QStringLiteral("c"), ConsoleCommand::Cancel},
        {QStringLiteral("no"), ConsoleCommand::No},
        {QStringLiteral("n"), ConsoleCommand::No},
    };
    const auto word = words.constFind(cmd);
    if (word != words.constEnd()) {
        c.kind = word.value();
        return c;
    }
    bool isNumber = false;
    if (cmd.startsWith(QLatin1String("af"))) {
        cmd.mid(2).toInt(&isNumber);
        if (isNumber) {
            if (autoInstallChoices.contains(cmd)) {
                c.kind = ConsoleCommand::SetAutoInstall;
                c.path = autoInstallChoices.value(cmd);
            }
            return c;
        }
    }
    if (cmd == QLatin1String("yes") || cmd == QLatin1String("y")) {
        if (lastChosen >= 0 && lastChosen < osCount) {
            c.kind = ConsoleCommand::Yes;
            c.index = lastChosen;
        }
        return c;
    }
    const int n = cmd.toInt(&isNumber);
    if (isNumber) {
        if (n >= 1 && n <= osCount) {
            c.kind = ConsoleCommand::ChooseOS;
            c.index = n - 1;
        }
        return c;
    }
    qDebug().noquote() << QStringLiteral("## Unknow \"%1\"").arg(cmd);
    c.kind = ConsoleCommand::Unknown;
    return c;
}
