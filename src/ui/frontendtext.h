// Sends the install screens' texts to the USB LCD and the console client,
// from the GUI thread, through the main controller's events.
#pragma once

#include <QStringList>

class FrontEndText
{
public:
    // `statusLines` are the terminal status line's texts (empty: the LCD lines).
    static void toLcd(const QStringList &lines, const QStringList &statusLines = QStringList());
    static void toConsole(const QStringList &lines, const QStringList &acceptedInputs);
};
