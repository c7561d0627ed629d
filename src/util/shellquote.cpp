#include "util/shellquote.h"

QString shellQuote(const QString &text)
{
    QString quoted;
    quoted.reserve(text.size() + 2);
    quoted += QLatin1Char('\'');
    for (const QChar c : text) {
        if (c == QLatin1Char('\''))
            quoted += QLatin1String("'\\''");
        else if (c.unicode() != 0)
            quoted += c;
    }
    quoted += QLatin1Char('\'');
    return quoted;
}
