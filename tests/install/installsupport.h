// Helpers of the install tests: a receiver that records every install
// event the way the main controller would receive it.
#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <ostream>
#include <string>

class QEvent;

struct RecordedEvent
{
    int type = 0;
    // progress / error (1100)
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
};

// The events of one job, in delivery order.
struct EventLog
{
    QList<RecordedEvent> events;

    int count(int type) const;
    QList<RecordedEvent> ofType(int type) const;
    // Terminal events: errors and finishes.
    QList<RecordedEvent> terminal() const;
    QString errorText() const;   // the first error message, "" when none
};

class EventRecorder : public QObject, public EventLog
{
public:
    // Called on the GUI thread for every recorded event (may be empty).
    std::function<void(const RecordedEvent &)> onEvent;

protected:
    bool event(QEvent *e) override;
};

// gtest prints QStrings as text.
void PrintTo(const QString &s, std::ostream *os);

// `sfdisk --json` of a device with all white space removed, so entries read
// as "start":2048,"size":32768.
std::string sfdiskJson(const std::string &device);
