#include "frontend/consolescreen.h"

#include "frontend/consolelinkevent.h"

const QString &ConsoleScreen::titleSplitText()
{
    static const QString s(70, QLatin1Char('-'));
    return s;
}

const QString &ConsoleScreen::tailSplitText()
{
    static const QString s(70, QLatin1Char('-'));
    return s;
}

const QString &ConsoleScreen::choosePrefixText()
{
    static const QString s = QStringLiteral(">>>");
    return s;
}

const QString &ConsoleScreen::spaces()
{
    static const QString s = QStringLiteral("  ");
    return s;
}

ConsoleScreen ConsoleScreen::build(const QString &title, const QStringList &messages,
                                   const QString &prompt, const QStringList &extraInputs)
{
    ConsoleScreen screen;
    screen.lines << titleSplitText() << title << titleSplitText() << messages << tailSplitText()
                 << choosePrefixText() + prompt;
    screen.acceptedInputs << extraInputs << QStringLiteral("reboot") << QStringLiteral("poweroff")
                          << QStringLiteral("c");
    return screen;
}

void ConsoleScreen::show() const
{
    ConsoleLinkEvent::showTextToConsoleLink(lines, acceptedInputs);
}

QString ConsoleScreen::publishedText(const QStringList &lines)
{
    QStringList out;
    out.reserve(lines.size());
    for (const QString &line : lines) {
        if (line.startsWith(titleSplitText()) || line.startsWith(tailSplitText())
            || line.startsWith(choosePrefixText() + QLatin1Char(' ')))
            out << line;
        else
            out << spaces() + line;
    }
    return out.join(QLatin1Char('\n'));
}
