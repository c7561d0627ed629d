// The progress view: starts the install job when shown, shows its progress,
// speed and errors on the screen, the LCD and the console, cancels it
// cooperatively, and after its finish runs the post-install steps up to
// "All done".
#pragma once

#include <QElapsedTimer>
#include <QWidget>

#include <functional>
#include <memory>

#include "board/targetdevice.h"
#include "frontend/installprogress.h"
#include "imageset/osconfig.h"

class QEvent;
class QShowEvent;
class QLabel;
class QProgressBar;
class QPushButton;
class PostInstallSequence;
class PostInstallServices;
class SDUpdateThread;

class TProgressWidget : public QWidget
{
    Q_OBJECT
public:
    explicit TProgressWidget(QWidget *parent = nullptr);
    ~TProgressWidget() override;

    // Creates the job for `os` (not started: showEvent starts it).
    void loadUIForOS(const OSConfig &os, const TargetDevice &boot, const TargetDevice &system);
    void setLowFormat(bool on) { m_lowFormat = on; }
    void setOverlayfsDisabled(bool on) { m_overlayfsDisabled = on; }
    void setVerifyAfterWrite(bool on) { m_verifyAfterWrite = on; }
    // Where the job posts its events; the main controller when not set.
    void setEventReceiver(QObject *receiver) { m_eventReceiver = receiver; }
    // The main controller's board services; not owned.
    void setPostInstallServices(PostInstallServices *services);

    bool isJobRunning() const;
    // The install has ended (all done, or failed) and the view shows its result.
    bool isDone() const { return m_done; }
    SDUpdateThread *job() const { return m_job; }
    PostInstallSequence *postInstallSequence() const { return m_sequence; }
    QString getFWSetenvCmd() const;

    // Milliseconds since the job started; replaceable so that tests need not
    // wait for the speed display's delay.
    void setElapsedClock(std::function<qint64()> clock) { m_clock = std::move(clock); }

    void handleProgressEvent(QEvent *event);
    void handleSpeedEvent(QEvent *event);
    void handleLowFormating(bool inProgress, int percent);
    void handleFinishEvent(QEvent *event);

public slots:
    void targetDeviceChanged(const TargetDevice &boot, const TargetDevice &system);
    void cancelButtonClicked();
    void cancelFlashing();
    void uiToAllDone();
    void shutdownButtonClickedSlot();
    void finishButtonClickedSlot();
    void sdUpdateThreadFinishedSlot();

signals:
    // The job is gone after a cancel, or the user is done: back to the list.
    void backToListRequested();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void startJob();
    void apply(const InstallScreenUpdate &update);
    void showFinishButtons(const QString &finishText);
    void postInstallStep(const QString &status, const QStringList &lcd, const QStringList &console,
                         const QStringList &inputs);
    void postInstallFailed();

    OSConfig m_os;
    SDUpdateThread *m_job = nullptr;
    bool m_lowFormat = false;
    bool m_overlayfsDisabled = false;
    bool m_verifyAfterWrite = false;
    bool m_cancelled = false;
    bool m_finishHandled = false;
    bool m_done = false;
    TargetDevice m_boot;
    TargetDevice m_system;
    InstallProgress m_progress;
    QElapsedTimer m_elapsed;
    std::function<qint64()> m_clock;
    QObject *m_eventReceiver = nullptr;
    std::unique_ptr<PostInstallServices> m_ownServices;
    PostInstallServices *m_services = nullptr;
    PostInstallSequence *m_sequence = nullptr;

    QLabel *m_status;
    QProgressBar *m_bar;
    QLabel *m_speed;
    QLabel *m_remaining;
    QPushButton *m_cancelButton;
    QPushButton *m_finishButton;
    QPushButton *m_shutdownButton;
};
