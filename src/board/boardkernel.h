// Running-kernel version tests of the board module (internal). The release
// comes through the path resolver, so a simulated board sets its own.
#pragma once

#include <QString>
#include <QStringList>

#include "util/paths.h"

namespace boardkernel {

// major, minor, patch: the release split at ".", tokens made only of digits
// in order ("4.4.179-x" gives 4, 4, 0). False when the release cannot be read.
inline bool version(int v[3])
{
    v[0] = v[1] = v[2] = 0;
    const QString release = QString::fromStdString(imgsmith::kernelRelease());
    if (release.isEmpty())
        return false;
    int n = 0;
    for (const QString &tok : release.split(QLatin1Char('.'))) {
        if (n >= 3)
            break;
        bool digits = !tok.isEmpty();
        for (QChar c : tok)
            digits = digits && c.isDigit() && c.unicode() < 128;
        if (digits)
            v[n++] = tok.toInt();
    }
    return true;
}

inline bool atLeast(int major, int minor, bool whenUnreadable)
{
    int v[3];
    if (!version(v))
        return whenUnreadable;
    return v[0] > major || (v[0] == major && v[1] >= minor);
}

} // namespace boardkernel
