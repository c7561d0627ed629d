// Stands in for the main controller: receives the install events and prints
// them as lines, and quits the event loop on the job's terminal event.
#pragma once

#include <QObject>

class SDUpdateThread;

class InstallPrinter : public QObject
{
    Q_OBJECT
public:
    explicit InstallPrinter(SDUpdateThread *job, QObject *parent = nullptr);

    void setQuiet(bool quiet) { m_quiet = quiet; }

    // 0 after the finish event, 1 after an error event, 2 when the job ended
    // without either (which would be a fault of the job).
    int exitCode() const { return m_exitCode; }
    int terminalEvents() const { return m_terminalEvents; }

protected:
    bool event(QEvent *e) override;

private:
    SDUpdateThread *m_job;
    bool m_quiet = false;
    int m_exitCode = 2;
    int m_terminalEvents = 0;
};
