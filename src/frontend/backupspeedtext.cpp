#include "frontend/backupspeedtext.h"

#include "util/util.h"

BackupSpeedText BackupSpeedText::compute(qint64 bytesDone, qint64 bytesTotal, double elapsedMs)
{
    BackupSpeedText t;
    const double rate = elapsedMs > 5000 ? bytesDone / (elapsedMs / 1000.0) : 0;   // bytes per second
    if (rate <= 0) {
        t.remaining = QStringLiteral("Remaining Time: --:--:--");
        return t;
    }
    t.speed = QStringLiteral("Speed: %1/s").arg(Util::size_human(static_cast<qint64>(rate)));
    const double seconds = (bytesTotal - bytesDone) / rate;
    t.remaining = seconds < 2 ? QStringLiteral("Remaining Time: 00:00:00")
                              : QStringLiteral("Remaining Time: ") +
            Util::seconds_to_DHMS_US2(static_cast<qint64>(seconds));
    return t;
}
