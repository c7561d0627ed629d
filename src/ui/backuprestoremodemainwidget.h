// The advanced back-up mode: the target selector, the file-name dialog and
// the progress view of a copy of the onboard storage into a ".raw" file on
// the TF card or a USB drive, and the formatting of those media. Owns the
// back-up job for its lifetime; the main controller hands it the job's
// events and mirrors its texts to the LCD and the console.
#pragma once

#include <QStringList>
#include <QWidget>

class BRProgressWidget;
class BRSelectorWidget;
class MyInputDialog;
class OnboardFlashBackupAndRestoreThread;
class QEvent;
class QPushButton;

class BackupRestoreModeMainWidget : public QWidget
{
    Q_OBJECT
public:
    explicit BackupRestoreModeMainWidget(QWidget *parent = nullptr);
    ~BackupRestoreModeMainWidget() override;

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
    // The last back-up of this screen has ended and its result is on show.
    bool isJobDone() const { return m_jobDone; }

    // The wrapper that runs user scripts against the onboard system.
    bool makeOnboardFlashCustomeScript(const QString &scriptFile, const QString &bootDev, const QString &rootDev,
                                       const QString &dataDev, const QString &scriptDir, const QStringList &scripts);

    OnboardFlashBackupAndRestoreThread *engine() const { return m_engine; }
    BRSelectorWidget *selector() const { return m_selector; }
    BRProgressWidget *progress() const { return m_progress; }

public slots:
    void cancel(bool ask);
    void backupButtonClicked();
    void inputBackupFileNameReadly();
    void formatUDiskButtonClicked();
    void formatTFCardButtonClicked();

signals:
    void backButtonPressed();
    void cancelButtonClicked();
    void formatDone(int drive);
    void usbDevicesStateChangedSignal();
    void usbMediaMountStatusChangedSignal();

protected:
    // The job's events when no main controller exists to route them.
    void customEvent(QEvent *event) override;

private:
    void refreshMedia();
    void engineFinished();
    void finishClicked();
    bool confirm(const QString &title, const QString &text, const QString &yes);
    int runScript(const QString &title, const QString &scriptFile);
    void formatDrive(int drive, const QString &script);

    BRSelectorWidget *m_selector;
    BRProgressWidget *m_progress;
    MyInputDialog *m_inputDialog;
    QPushButton *m_backButton;
    OnboardFlashBackupAndRestoreThread *m_engine;
    QString m_imagePath;
    int m_targetKind = 1;
    bool m_jobActive = false;     // events of the current copy are wanted
    bool m_jobDone = false;
    bool m_cancelling = false;
};
