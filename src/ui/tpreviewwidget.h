// The install preview: where the set will go (boot and system device), the
// installation summary, and the options (automatic start, low format,
// overlay file system, read-back verification). "Next" hands over to the progress view.
#pragma once

#include <QWidget>

#include "board/targetdevice.h"
#include "imageset/osconfig.h"

class QCheckBox;
class QPushButton;
class QTextEdit;
class TargetDeviceButton;

class TPreviewWidget : public QWidget
{
    Q_OBJECT
public:
    explicit TPreviewWidget(QWidget *parent = nullptr);

    void loadUIForOS(const OSConfig &os);

    TargetDevice bootDevice() const { return m_boot; }
    TargetDevice systemDevice() const { return m_system; }
    bool isLowFormat() const;
    // The check box, or the command line's global switch.
    bool isOverlayfsDisabled() const;
    // Read every image back after writing it.
    bool isVerifyAfterWrite() const;
    // The rootfs-only install (no boot device) is refused onto onboard storage.
    bool isTargetChoiceAllowed() const;
    // Replaces the targets as a dialog choice would (console and tests).
    void setDevices(const TargetDevice &boot, const TargetDevice &system);

public slots:
    void selectBootDriveButtonClicked();
    void selectSystemDriveButtonClicked();
    void autoStartCheckboxChanged();
    void disableOverlayFsCheckboxChanged();
    void reinitLogView();

signals:
    void targetDeviceChanged(const TargetDevice &boot, const TargetDevice &system);
    void autoStartOSChanged();
    void nextButtonClicked();

private:
    void chooseDevice(int type);

    OSConfig m_os;
    TargetDevice m_boot;
    TargetDevice m_system;
    TargetDeviceButton *m_bootButton;
    TargetDeviceButton *m_systemButton;
    QTextEdit *m_logView;
    QPushButton *m_editKernelParameterButton;
    QCheckBox *m_autoStart;
    QCheckBox *m_lowFormat;
    QCheckBox *m_disableOverlayFs;
    QCheckBox *m_verifyAfterWrite;
    QPushButton *m_next;
};
