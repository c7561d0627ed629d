#include "ui/consolelink.h"

#include "frontend/consolelinkmessageevent.h"
#include "frontend/consolescreen.h"

#include "util/log2file.h"

const QString ConsoleLink::console_Title_SplitText = QString(70, QLatin1Char('-'));
const QString ConsoleLink::console_Tail_SplitText = QString(70, QLatin1Char('-'));
const QString ConsoleLink::console_UseChoose_PrefixText = QStringLiteral(">>>");
const QString ConsoleLink::console_spaces = QStringLiteral("  ");

ConsoleLink::ConsoleLink(QObject *parent) : QObject(parent)
{
    log2file("ConsoleLink: the console client front-end is not available in this build\n");
}

void ConsoleLink::displayTextToConsoleLink(const QStringList &lines)
{
    Q_UNUSED(lines);
}

void ConsoleLink::socketTextReceived(const QString &text)
{
    ConsoleLinkMessageEvent::sendConsoleLinkMessageEvent(text);
}
