#include "frontend/controllerconsolescreens.h"

namespace {

QString returnPrompt()
{
    return QStringLiteral("Enter \"c\" to return.");
}

QString formatTitle(int drive)
{
    return drive == 2 ? QStringLiteral("Format USB Drive") : QStringLiteral("Format TF card");
}

} // namespace

ConsoleScreen ControllerConsoleScreens::information(const QString &message)
{
    return ConsoleScreen::build(QStringLiteral("Information"), {message}, returnPrompt());
}

ConsoleScreen ControllerConsoleScreens::formatPrompt(int drive)
{
    const QString message = drive == 2
        ? QStringLiteral("Format your drive as ext4. All data on the drive will be lost during formatting.")
        : QStringLiteral("Format your TF card to its original size. All data on the exFAT partition will be lost.");
    return ConsoleScreen::build(formatTitle(drive), {message},
                                QStringLiteral("Input \"format\" then press <Enter> key to continue, or \"c\" to back."),
                                {QStringLiteral("format")});
}

ConsoleScreen ControllerConsoleScreens::formatBusy(int drive)
{
    return ConsoleScreen::build(
        formatTitle(drive),
        {QStringLiteral("The operation cannot proceed because another operation is already in progress.")},
        returnPrompt());
}

ConsoleScreen ControllerConsoleScreens::backupTargetChanged(int kind)
{
    const QString name = kind == 1 ? QStringLiteral("TF card")
                         : kind == 2 ? QStringLiteral("USB disk")
                                     : QStringLiteral("Unknow");
    return information(QStringLiteral("The backup target device have been changed to \"%1\".").arg(name));
}

ConsoleScreen ControllerConsoleScreens::backupBusy(const QString &onboardFlashType)
{
    return ConsoleScreen::build(QStringLiteral("Backup %1").arg(onboardFlashType),
                                {QStringLiteral("The operation is not allowed, another operation is in progress.")},
                                returnPrompt());
}

ConsoleScreen ControllerConsoleScreens::autoInstallOff()
{
    return information(QStringLiteral("\"Automatic installing\" has been turned off."));
}

ConsoleScreen ControllerConsoleScreens::autoInstallOn(const QString &path)
{
    return information(QStringLiteral("\"Automatic installing\" has been turned ON (%1).").arg(path));
}

ConsoleScreen ControllerConsoleScreens::autoInstallMenu(const QStringList &names, const QStringList &paths,
                                                        const QString &current,
                                                        QMap<QString, QString> &choices)
{
    choices.clear();
    ConsoleScreen screen;
    screen.lines << QStringLiteral(" ") << QStringLiteral("# Configure automatic installing:");
    if (names.isEmpty()) {
        screen.lines << QStringLiteral("  No image files found") << QString()
                     << ConsoleScreen::choosePrefixText() + returnPrompt();
        screen.acceptedInputs << QStringLiteral("reboot") << QStringLiteral("poweroff") << QStringLiteral("c");
        return screen;
    }
    const QString chosen = current.trimmed();
    QStringList keys;
    for (int i = 0; i < names.size() && i < paths.size(); ++i) {
        const QString key = QStringLiteral("af%1").arg(i + 1);
        const QString mark = paths.at(i) == chosen ? QStringLiteral("[*] ") : QStringLiteral("[ ] ");
        screen.lines << QStringLiteral("  %1) %2").arg(key, mark + names.at(i));
        choices.insert(key, paths.at(i));
        keys << key;
    }
    screen.lines << QStringLiteral("  %1) [ ] turn off").arg(QStringLiteral("ioff"));
    keys << QStringLiteral("ioff");
    screen.lines << QString()
                 << QStringLiteral("%1 Enter an option (%2) , or \"c\" to return:")
                        .arg(ConsoleScreen::choosePrefixText(), keys.join(QLatin1Char('/')));
    screen.acceptedInputs << keys << QStringLiteral("reboot") << QStringLiteral("poweroff") << QStringLiteral("c");
    return screen;
}
