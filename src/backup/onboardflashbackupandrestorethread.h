// The back-up job: copies the whole onboard storage (eMMC or UFS) byte for
// byte into one image file on the TF card or a USB drive, on a worker
// thread, writing a SHA-256 manifest beside it. Reports only through the
// back-up events (1200 progress/error, 1201 speed, 1202 finish) posted to
// its receiver; a run ends with one error event, or a 100 % progress event
// followed by the finish event, or - when cancelled - with neither: the
// canceller waits for the thread and the partial image is gone by then.
#pragma once

#include <QString>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>

#include "install/jobreport.h"

class OnboardFlashBackupAndRestoreThread : public QThread
{
    Q_OBJECT
public:
    // Operation of the next run; the back-up screen sets 1 (back-up).
    static int currentAction;

    explicit OnboardFlashBackupAndRestoreThread(QObject *parent = nullptr);
    ~OnboardFlashBackupAndRestoreThread() override;

    // Set on the GUI thread while the job is not running.
    void setImageFilePath(const QString &path) { m_imageFilePath = path; }   // as the system names it
    const QString &imageFilePath() const { return m_imageFilePath; }
    void setMediaKind(int kind) { m_mediaKind = kind; }   // 1 TF card, 2 USB drive
    int mediaKind() const { return m_mediaKind; }
    // Where the events go (the main controller); null drops them.
    void setEventReceiver(QObject *receiver) { m_receiver = receiver; }
    // Called on the worker thread for every progress report, before its
    // event is posted (tests and drivers act at an exact point of the copy).
    void setProgressObserver(std::function<void(int percent)> observer) { m_observer = std::move(observer); }

    // Clears an old cancel request and starts a run.
    void startJob();
    // Cooperative stop, callable from any thread: the copy stops between
    // chunks, the device is released and the partial image deleted.
    void cancel() { m_cancelled.store(true); }
    bool isCancelled() const { return m_cancelled.load(); }

    void postOnboardFlashBRErrorMessage(const QString &message);
    void postOnboardFlashBRProgressMessage(int action, int percent);
    void postOnboardFlashBRFinishMessage();
    // Sinks of the streamed copy.
    void postProgressMessage2(bool isErasing, const QString &imageName, const QString &partitionName,
                              int percent, int fileCount, int fileIndex);
    void postSpeedMessage2(const QString &imageName, const QString &partitionName, qint64 bytesDone,
                           qint64 bytesTotal, double elapsedMs);

protected:
    void run() override;

private:
    bool checkFreeSpace();
    bool measureDevice(const QString &device, qint64 *sectors);
    bool backUp(const QString &device, qint64 sectors);
    bool finishImageFile(FILE *fp, const QString &digest);
    // Takes the run's error and returns false; run() posts it once the
    // device is released and the record written.
    bool fail(const QString &message);
    void post(QEvent *event);
    // Leaves the back-up's record on the medium it was written to.
    void writeReport(const QString &device, qint64 bytes, bool done);

    QString m_imageFilePath;
    int m_mediaKind = 0;
    QObject *m_receiver = nullptr;
    std::function<void(int)> m_observer;
    std::atomic<bool> m_cancelled{false};
    QString m_lastError;
    std::unique_ptr<JobReport> m_report;
};
