// The install detail screen: the preview of one image set, then its progress
// view. The main controller loads a set into it and hands it the install
// job's events.
#pragma once

#include <QWidget>

#include "imageset/osconfig.h"

class QEvent;
class QLabel;
class QPushButton;
class QStackedWidget;
class PostInstallServices;
class TPreviewWidget;
class TProgressWidget;

class TDownloadDetailWidget : public QWidget
{
    Q_OBJECT
public:
    explicit TDownloadDetailWidget(QWidget *parent = nullptr);
    ~TDownloadDetailWidget() override;

    // `fromLcd`: chosen on the USB LCD (the controller presses "Next" itself).
    void loadUIForOS(const OSConfig &os, bool fromLcd);

    void handleProgressEvent(QEvent *event);
    void handleSpeedEvent(QEvent *event);
    void handleLowFormating(bool inProgress, int percent);
    void handleFinishEvent(QEvent *event);

    // The install job exists and runs.
    bool isFlashing() const;
    // The last install of this screen has ended (done or failed) and the
    // screen shows its result.
    bool isInstallDone() const;
    TPreviewWidget *previewWidget() const { return m_preview; }
    TProgressWidget *progressWidget() const { return m_progress; }
    // Where the install job posts its events; the main controller by default.
    void setEventReceiver(QObject *receiver);
    void setPostInstallServices(PostInstallServices *services);

public slots:
    void nextButtonClicked();
    void cancelButtonClicked();
    void cancelFlashing();
    void osDownloadDone();

signals:
    void backButtonPressed();
    void autoStartOSChanged();

private:
    OSConfig m_os;
    QLabel *m_title;
    QPushButton *m_back;
    QStackedWidget *m_stack;
    TPreviewWidget *m_preview;
    TProgressWidget *m_progress;
    PostInstallServices *m_controllerServices;
};
