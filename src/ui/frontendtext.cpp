#include "ui/frontendtext.h"

#include "util/log2file.h"

// The LCD and console events belong to the main controller, which is not
// built yet: the texts go to the log so that nothing is silently lost.
void FrontEndText::toLcd(const QStringList &lines, const QStringList &statusLines)
{
    log2file("LCD (not available yet): %s\n", qPrintable((statusLines.isEmpty() ? lines : statusLines).join(',')));
}

void FrontEndText::toConsole(const QStringList &lines, const QStringList &acceptedInputs)
{
    log2file("console (not available yet): %d lines, inputs %s\n", int(lines.size()), qPrintable(acceptedInputs.join('/')));
}
