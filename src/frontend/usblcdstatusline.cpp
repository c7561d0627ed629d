#include "frontend/usblcdstatusline.h"

#include <QByteArray>
#include <QMutex>
#include <QMutexLocker>

void writeUSBLCDStatusLine(const QStringList &displayLines, const QStringList &terminalLines,
                           bool newLine, FILE *out)
{
    static QMutex mutex;
    static qsizetype maxlen = 0;   // bytes; only grows

    const QByteArray text =
        (terminalLines.isEmpty() ? displayLines : terminalLines).join(QLatin1Char(',')).toLocal8Bit();
    QMutexLocker lock(&mutex);
    maxlen = qMax(maxlen, text.size());
    fwrite(text.constData(), 1, static_cast<size_t>(text.size()), out);
    for (qsizetype i = text.size(); i < maxlen; ++i)
        fputc(' ', out);
    fputc(newLine ? '\n' : '\r', out);
    fflush(out);
}
