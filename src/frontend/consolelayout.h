// The console screens of the install views: the common screen layout of
// ConsoleScreen, with a blank between the choose prefix and the prompt.
#pragma once

#include "frontend/consolescreen.h"

#include <QString>
#include <QStringList>

class ConsoleLayout
{
public:
    static QStringList screen(const QString &title, const QStringList &messages, const QString &prompt)
    {
        return ConsoleScreen::build(title, messages, QLatin1Char(' ') + prompt).lines;
    }
};
