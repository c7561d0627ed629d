// The speed and remaining-time texts of the back-up progress view, from the
// cumulative figures of a speed event.
#pragma once

#include <QString>

struct BackupSpeedText
{
    QString speed;       // "Speed: 12 MB/s", empty until the rate is known
    QString remaining;   // "Remaining Time: 00:01:05"

    // The rate is taken only after 5 s of copying (earlier figures are
    // dominated by the page cache); below 2 s left shows 00:00:00, an
    // unknown rate "--:--:--".
    static BackupSpeedText compute(qint64 bytesDone, qint64 bytesTotal, double elapsedMs);
};
