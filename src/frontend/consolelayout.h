// The layout every console client screen follows: a split line, the title, a
// split line, the message lines, a closing split line and the prompt behind
// the choose prefix.
#pragma once

#include <QString>
#include <QStringList>

class ConsoleLayout
{
public:
    static QString splitLine() { return QString(70, QLatin1Char('-')); }
    static QString choosePrefix() { return QStringLiteral(">>>"); }

    static QStringList screen(const QString &title, const QStringList &messages, const QString &prompt)
    {
        QStringList lines{splitLine(), title, splitLine()};
        lines << messages << splitLine() << choosePrefix() + QLatin1Char(' ') + prompt;
        return lines;
    }
};
