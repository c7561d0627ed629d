// Runs one external program on a worker thread, waits for it and keeps its
// output (collect mode), gathers it line by line (line mode), or posts every
// chunk of output to a receiver as a RunCmdThreadEvent (event mode).
#pragma once

#include <QEvent>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>

#include "util/runcmdthreadevent.h"

class QObject;

class RunCmdThread : public QThread
{
    Q_OBJECT
public:
    // Exit codes for a program that never ran to a normal exit (QProcess
    // itself would report 0 for both, which callers would read as success).
    static constexpr int StartFailedExitCode = 127;
    static constexpr int CrashExitCode = 128;

    // `eventType` 0 means no events; otherwise every read of output is posted
    // to `receiver` as a RunCmdThreadEvent of that type.
    RunCmdThread(const QString &program, const QStringList &arguments, bool lineMode = false,
                 QEvent::Type eventType = QEvent::Type(0), QObject *receiver = nullptr,
                 QObject *parent = nullptr);

    // Forgets the results of an earlier run.
    void cleanResult();

    // Results; safe to read from any thread.
    QString standardOutput() const;   // collect mode, after the run
    QString standardError() const;    // collect mode, after the run
    int exitCode() const;             // -1 until the program has ended
    QStringList lines() const;        // line mode
    qint64 processId() const;         // -1 before the program started

    QString program() const { return m_program; }
    QStringList arguments() const { return m_arguments; }

protected:
    void run() override;

private:
    void deliverLines(const QStringList &lines);

    // Taken one at a time, never nested.
    mutable QMutex m_stdoutMutex;
    mutable QMutex m_stderrMutex;
    mutable QMutex m_exitCodeMutex;
    mutable QMutex m_linesMutex;

    QString m_stdout;
    QString m_stderr;
    const QString m_program;
    const QStringList m_arguments;
    QStringList m_lines;
    const QEvent::Type m_eventType;
    QObject *const m_receiver;
    std::atomic<qint64> m_pid{-1};
    const bool m_lineMode;
    int m_exitCode = -1;
};
