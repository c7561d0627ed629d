#include "frontend/autoinstallplanner.h"

#include "board/boardhardwareinfo.h"
#include "util/qpaths.h"

#include <QFileInfo>

bool AutoInstallPlanner::scanFinished(bool anyMarked)
{
    // A new scan is a new chance, and only a set marked by this scan counts.
    m_autoTaskKind = anyMarked ? 1 : 0;
    return !m_manualRefreshUsed && m_autoTaskKind != 0;
}

bool AutoInstallPlanner::timerFired(bool targetExists)
{
    if (m_autoTaskKind != 1)
        return false;
    // One attempt per scan, whatever its outcome.
    m_autoTaskKind = 0;
    m_autoTaskState = targetExists ? 2 : 1;
    return targetExists;
}

QString AutoInstallPlanner::targetNodeFor(const BoardHardwareInfo &board)
{
    if (board.boardKey == QLatin1String(kRK3576UFSBoardKey))
        return QStringLiteral("/sys/devices/platform/2a2d0000.ufs");
    return QStringLiteral("%1%2").arg(QStringLiteral("/dev/") + board.getOnboardEMMCDevName(), QStringLiteral("boot0"));
}

bool AutoInstallPlanner::targetExists(const BoardHardwareInfo &board)
{
    return QFileInfo::exists(sysPath(targetNodeFor(board)));
}
