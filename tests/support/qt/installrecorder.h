// The install and back-up jobs seen from the main controller: a receiver
// that records every event they post, and a runner that checks the rules
// every install job keeps (one terminal event, last; the device released).
#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <optional>

class QEvent;
class SDUpdateThread;

namespace testsupport {

struct RecordedEvent
{
    int type = 0;
    // progress / error (1100), back-up progress / error (1200)
    int action = 0;   // 1200 only
    bool erasing = false;
    bool verifying = false;
    int percent = 0;
    QString imageName;
    QString partitionName;
    int fileCount = 0;
    int fileIndex = 0;
    bool isError = false;
    QString errorMessage;
    // speed (1101)
    qint64 bytesDone = 0;
    qint64 bytesTotal = 0;
    double elapsedMs = 0;
    // low format (1110)
    bool inProgress = false;
    // finish (1111)
    QString bootDevName;
    QString systemDevName;
    // A job's final event (error, 1111, 1202): bytes of the SD card's
    // report file when it arrived (-1: no file).
    std::optional<qint64> reportBytes;
};

// The events of one job, in delivery order.
struct EventLog
{
    QList<RecordedEvent> events;

    int count(int type) const;
    QList<RecordedEvent> ofType(int type) const;
    // Terminal events of an install: errors and finishes.
    QList<RecordedEvent> terminal() const;
    QString errorText() const;   // the first error message, "" when none
};

class EventRecorder : public QObject, public EventLog
{
protected:
    bool event(QEvent *e) override;
};

// Fails the test when a job's final event arrived before its record was
// complete on the SD card: a front-end may quit or reboot on that event.
void expectRecordBeforeFinalEvent(const EventLog &log);

// Runs `job` to its end in an event loop and returns what it posted.
EventLog runInstall(SDUpdateThread &job);

} // namespace testsupport
