// The steps after the install job has reported its finish: re-read the
// onboard system and run the user scripts of a restored back-up, grow the
// last file system, write the boot environment, then the "All done" actions
// (LEDs, quitting an unattended run, the SD card watcher). Shell commands go
// through RunCmdThread; each thread is deleted from its own finished slot.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

#include "board/targetdevice.h"
#include "imageset/osconfig.h"

class PostInstallServices;
class RunCmdThread;

class PostInstallSequence : public QObject
{
    Q_OBJECT
public:
    // The wrapper that runs a restored back-up's scripts.
    static constexpr const char *kRestoreScriptWrapper = "/tmp/imgsmith-restore-custome-script.sh";
    static constexpr int kExitDelayMs = 1000;

    explicit PostInstallSequence(PostInstallServices *services, QObject *parent = nullptr);

    // Runs the steps for one finished job. A second call before reset() is
    // ignored, so a repeated finish event cannot run them twice.
    bool start(const OSConfig &os, bool overlayfsDisabled);
    void reset();
    void setServices(PostInstallServices *services) { m_services = services; }
    bool isStarted() const { return m_started; }
    bool isRunning() const { return m_running; }

    // The environment writer to run: the S5P4418/S5P6818 kernel's own build
    // in "/opt/<board>-3" or "-4", else "/opt/fw_setenv", else the one on PATH.
    static QString getFWSetenvCmd(const OSConfig &os);

    // "All done" actions: status LED slow flash (network LED on for Rockchip
    // boards with two or more ports), the SD card watcher on Rockchip boards,
    // and quitting 1000 ms later when the configuration asks for autoExit.
    void runAllDoneActions();
    // After a failed install: quit with status 1 under autoExit, so an
    // unattended run can tell failure from success. Returns whether it will.
    bool quitAfterFailureIfAutoExit();

    // Replaces QCoreApplication::exit (tests).
    void setExitFunction(std::function<void(int)> exitFunction) { m_exit = std::move(exitFunction); }

signals:
    // A step began: the view's status line, LCD lines and console screen.
    void stepText(const QString &status, const QStringList &lcdLines, const QStringList &consoleLines,
                  const QStringList &consoleInputs);
    // Every step is done: the view goes to "All done".
    void allStepsDone();
    // The user scripts failed; the sequence stops before "All done".
    void stepsFailed(const QString &status);

private slots:
    void resizeFileSystemThreadFinish();
    void setEnvThreadFinish();
    void sdMonitorThreadFinish();

private:
    void restoreSteps();
    void resizeStep(const QString &lastPartition);
    void environmentStep();
    void finishSteps();
    RunCmdThread *runShell(const QString &command, const char *finishSlot);
    void showStep(const QString &status, const QString &shortText);
    void scheduleExit(int code);

    PostInstallServices *m_services;
    OSConfig m_os;
    bool m_overlayfsDisabled = false;
    bool m_started = false;
    bool m_running = false;
    std::function<void(int)> m_exit;
};
