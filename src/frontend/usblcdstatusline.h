// The one-line mirror of the USB LCD on standard output. Any thread may write
// it (GUI, install and back-up workers); each status is padded with blanks to
// the longest one written so far, so that a shorter status ending in a
// carriage return fully overwrites a longer one.
#pragma once

#include <QStringList>

#include <cstdio>

// Joins terminalLines with "," (displayLines when terminalLines is empty),
// writes it padded, then "\n" when newLine is set, else "\r", and flushes.
// Writes from several threads neither interleave nor lose the longest length.
void writeUSBLCDStatusLine(const QStringList &displayLines, const QStringList &terminalLines,
                           bool newLine, FILE *out = stdout);
