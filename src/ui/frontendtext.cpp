#include "ui/frontendtext.h"

#include "frontend/consolelinkevent.h"
#include "frontend/usblcdevent.h"

void FrontEndText::toLcd(const QStringList &lines, const QStringList &statusLines)
{
    USBLCDEvent::showTextToUSBLCD(lines, statusLines, true);
}

void FrontEndText::toConsole(const QStringList &lines, const QStringList &acceptedInputs)
{
    ConsoleLinkEvent::showTextToConsoleLink(lines, acceptedInputs);
}
