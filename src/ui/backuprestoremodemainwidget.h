// The back-up and restore screen. This build has no back-up screens yet; the
// class keeps the controller's seam so that they slot in without changing it.
#pragma once

#include <QWidget>

class QEvent;

class BackupRestoreModeMainWidget : public QWidget
{
    Q_OBJECT
public:
    explicit BackupRestoreModeMainWidget(QWidget *parent = nullptr);

    void handleProgressEvent(QEvent *event);
    void handleSpeedEvent(QEvent *event);
    void handleFinishEvent(QEvent *event);

    // 1 = TF card, 2 = USB drive.
    void switchTargetDevice(int kind);
    int targetDeviceKind() const { return m_targetKind; }
    QString genBackupFileName(int kind) const;
    void startBackupToFile(const QString &path);
    void formatUSBDrive();
    void formatTFCard();
    void resetView();
    // The back-up job exists and runs.
    bool isWorking() const;
    // The last back-up or restore of this screen has ended and its result
    // is on show.
    bool isJobDone() const;

public slots:
    void cancel(bool ask);

signals:
    void backButtonPressed();
    void cancelButtonClicked();
    void formatDone(int drive);
    void usbDevicesStateChangedSignal();
    void usbMediaMountStatusChangedSignal();

private:
    int m_targetKind = 1;
};
