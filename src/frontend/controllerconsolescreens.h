// The console screens that the main controller shows itself: format
// prompts, information screens and the automatic-install menu.
#pragma once

#include "frontend/consolescreen.h"

#include <QMap>
#include <QString>
#include <QStringList>

class ControllerConsoleScreens
{
public:
    // drive 1 = TF card, 2 = USB drive.
    static ConsoleScreen formatPrompt(int drive);
    static ConsoleScreen formatBusy(int drive);
    static ConsoleScreen backupTargetChanged(int kind);
    static ConsoleScreen backupBusy(const QString &onboardFlashType);
    static ConsoleScreen autoInstallOff();
    static ConsoleScreen autoInstallOn(const QString &path);

    // The automatic-install menu for the sets `names` at `paths` (equal
    // lengths), marking the one whose path is `current`. Fills `choices`
    // with option key -> set path.
    static ConsoleScreen autoInstallMenu(const QStringList &names, const QStringList &paths,
                                         const QString &current, QMap<QString, QString> &choices);

private:
    static ConsoleScreen information(const QString &message);
};
