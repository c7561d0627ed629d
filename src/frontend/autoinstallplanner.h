// When the automatic install of the image set named by "autoStart" may
// start: at most once per scan, never after the user refreshed the list by
// hand, and only when the target storage exists.
#pragma once

#include <QString>

class BoardHardwareInfo;

class AutoInstallPlanner
{
public:
    // A scan has ended; `anyMarked` tells whether a set carries the
    // auto-flash mark. Returns true when the automatic-task timer is to be
    // (re)started.
    bool scanFinished(bool anyMarked);
    // The "Refresh" menu entry was used; automatic installs stay off for the
    // rest of the run.
    void manualRefreshUsed() { m_manualRefreshUsed = true; }
    // The timer fired. Returns true when the install is to start now;
    // `targetExists` is the result of the target check.
    bool timerFired(bool targetExists);

    int autoTaskKind() const { return m_autoTaskKind; }
    int autoTaskState() const { return m_autoTaskState; }
    bool isManualRefreshUsed() const { return m_manualRefreshUsed; }

    // The node the install needs: "/dev/<eMMC>boot0", or on the RK3576 UFS
    // board the UFS controller's sysfs directory.
    static QString targetNodeFor(const BoardHardwareInfo &board);
    static bool targetExists(const BoardHardwareInfo &board);

private:
    int m_autoTaskKind = 0;   // 1: an automatic install is pending
    int m_autoTaskState = 0;  // 1: attempted without success, 2: started
    bool m_manualRefreshUsed = false;
};
