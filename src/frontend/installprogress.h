// What the progress view, the USB LCD and the console show while the install
// job runs and when it is done: one text update per job event, the copy's
// start and end times and the average speed. No widgets; the view applies
// the updates.
#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

#include "board/targetdevice.h"
#include "imageset/osconfig.h"

class SDUpdateThreadEvent;
class SDUpdateThreadSpeedEvent;

// One change of the progress screen on every front-end. Empty fields leave
// the front-end as it is (percent -1: bar unchanged).
struct InstallScreenUpdate
{
    bool shown = false;          // false: nothing to show for this event
    int percent = -1;
    QString status;
    QString speed;
    QString remaining;
    QStringList lcdLines;
    QStringList consoleLines;
    QStringList consoleInputs;
};

class InstallProgress
{
public:
    // Speed and remaining time stay hidden this long after the job started,
    // until the rate has settled.
    static constexpr qint64 kSpeedDelayMs = 5000;

    explicit InstallProgress(const OSConfig &os = OSConfig());

    // Forgets the times and transfers of an earlier run.
    void reset();

    InstallScreenUpdate progress(const SDUpdateThreadEvent &e);
    // `sinceStartMs`: time since the job was started.
    InstallScreenUpdate speed(const SDUpdateThreadSpeedEvent &e, qint64 sinceStartMs);
    InstallScreenUpdate lowFormat(bool inProgress, int percent);
    // The console screen while the job runs, before any figure is known.
    QStringList runningConsoleLines(const QString &message) const;
    static QStringList runningConsoleInputs();
    static QStringList returnConsoleInputs();   // "reboot", "poweroff", "c"

    // Copy times: both taken once the first image started and the last one
    // reached 100 %.
    bool timesTaken() const { return m_startTaken && m_endTaken; }
    qint64 copyElapsedMs() const;
    qint64 transferredBytes() const;
    // Bytes per second over the whole copy, 0 when unknown.
    qint64 averageRate() const;

    // The "All done" state. `rockchip` boards reboot into the new system by
    // themselves once the SD card is out.
    struct Completion
    {
        QString status;
        QString averageSpeed;   // empty without times
        QString totalTime;
        QStringList lcdLines;
        QStringList consoleLines;
        QStringList consoleInputs;
    };
    Completion completion(bool rockchip, const TargetDevice &boot) const;

    // Splits a message into LCD rows of 20 characters, at most `rows`.
    static QStringList lcdRows(const QString &text, int rows);

private:
    static qint64 monotonicNs();

    OSConfig m_os;
    QString m_lastStep;
    bool m_startTaken = false;
    bool m_endTaken = false;
    qint64 m_startNs = 0;
    qint64 m_endNs = 0;
    bool m_verifying = false;            // the last progress was a read-back's
    QMap<QString, qint64> m_fileBytes;   // image and partition -> bytes of that file
};
