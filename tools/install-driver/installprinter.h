// Stands in for the main controller: receives the install events and prints
// them for a person or a script, and quits the event loop on the job's
// terminal event.
//
// Output: one line when a step begins ("[2/7] Writing boot.img to boot",
// "[2/7] Verifying boot.img on boot");
// on a terminal a progress bar that rewrites itself, elsewhere a line per
// percent ("[2/7] boot  40%"); last a summary with the bytes of image files
// copied (as read: a gzip or sparse file counts at its own size), the
// time and the average speed, or the error.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdio>

#include "board/targetdevice.h"

class InstallPrinter : public QObject
{
    Q_OBJECT
public:
    InstallPrinter(FILE *out, bool terminal, QObject *parent = nullptr);

    void setQuiet(bool quiet) { m_quiet = quiet; }
    // Bare names of the files the job leaves out, so that their steps read
    // "excluded" and not like a write.
    void setExcludedFiles(const QStringList &names) { m_excluded = names; }
    // Whether the set has partitions that belong on the system device: with
    // no system device the summary then says they were not written.
    void setHasSystemPartitions(bool has) { m_hasSystemPartitions = has; }
    // Starts the clock of the summary; call right before the job starts.
    void start() { m_clock.start(); }

    // 0 after the finish event, 1 after an error event or when the job
    // ended without either (a fault of the job, reported as a failure).
    int exitCode() const { return m_terminalEvents == 1 ? m_exitCode : 1; }
    int terminalEvents() const { return m_terminalEvents; }
    qint64 bytesWritten() const { return m_bytes; }

protected:
    bool event(QEvent *e) override;

private:
    enum Phase { Writing, Erasing, Verifying };
    void onProgress(Phase phase, const QString &image, const QString &partition, int index, int count,
                    int percent);
    void onSpeed(const QString &key, qint64 done, qint64 total, double elapsedMs);
    void onLowFormat(bool inProgress, int percent);
    void onFinish(const TargetDevice &boot, const TargetDevice &system);
    void onError(const QString &message);

    void beginStep(const QString &line);
    void showPercent(const QString &label, int percent);
    void closeBar();
    QString totals() const;

    FILE *m_out;
    bool m_terminal;
    bool m_quiet = false;
    bool m_hasSystemPartitions = false;
    QStringList m_excluded;
    QElapsedTimer m_clock;

    QString m_stepKey;          // identifies the step whose lines are shown
    QString m_stepLabel;
    int m_lastPercent = -1;
    bool m_barOpen = false;     // a progress bar without its newline yet
    double m_stepSpeed = 0;     // MB/s of the current image, for the bar

    QString m_speedKey;
    qint64 m_speedDone = 0;
    qint64 m_bytes = 0;

    int m_exitCode = 1;
    int m_terminalEvents = 0;
};
