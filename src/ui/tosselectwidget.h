// The home screen: keeps the list of installable image sets up to date
// (scans of the SD card and USB drive, hot plug), shows it as buttons, as
// the console menu and as the USB LCD menu, interprets console commands and
// LCD keys, and starts the automatic install the configuration asks for.
// What is chosen goes to the main controller through signals.
#pragma once

#include "frontend/autoinstallplanner.h"
#include "imageset/osconfig.h"

#include <QList>
#include <QPointer>
#include <QStringList>
#include <QWidget>

class AutoZoomLabel;
class HotPlugMonitor;
class IconButton;
class OSButton;
class QGridLayout;
class QLabel;
class QMenu;
class QScrollArea;
class QTimer;
class RunCmdThread;
class StatusBarWidget;

class TOSSelectWidget : public QWidget
{
    Q_OBJECT
public:
    enum ViewType { ICON_STYLE, LIST_STYLE };

    explicit TOSSelectWidget(QWidget *parent = nullptr);
    ~TOSSelectWidget() override;

    // The image sets on show, in display order.
    QList<OSConfig> osList() const;
    QList<OSButton *> osButtons() const { return m_osButtons; }
    int selectedIndex() const { return m_selectedIndex; }
    ViewType viewType() const { return m_viewType; }
    void setViewType(ViewType type);
    const AutoInstallPlanner &autoInstallPlanner() const { return m_autoInstall; }
    bool isUDiskPresent() const { return m_udiskPresent; }
    QMenu *menu() const { return m_menu; }
    // Replaces the hot-plug source (tests hand in one end of a socketpair);
    // the screen owns `fd` from now on.
    void setHotPlugSocket(int fd);

    // Plain files of `path` whose names end in ".<extension>", by name.
    QStringList enumFileFromPath(const QString &path, const QString &extension) const;
    // Back-up image files (".raw") at the top of the mounted card and drive.
    QStringList enumBackupFile() const;
    QStringList enmuOSNames() const;
    QStringList enmuOSIds() const;

signals:
    void usbDevicesStateChangedSignal();
    void usbMediaMountStatusChangedSignal();
    void simBackButtonPressedForDownloadUI();
    void simBackButtonPressedForBKUI();
    void userSelectBackupFromConsole();
    void userClickBackupRestoreMenuItem();
    void userClickSwitchEth0ToDHCPMenuItem();
    void user1KeyBackupMenuItem();
    void osSelected(const OSConfig &os);
    void osSelectedFromUSBLCD(const OSConfig &os);
    void osSelectedFromConsole(const OSConfig &os);
    void userSayYesFromConsole(const OSConfig &os);
    void userSayCancelFromConsole();
    void userClickBackupRestoreButton();
    void userSayFormatDriveFromConsole(int drive);
    void userConfirmFormatDriveFromConsole();
    void userOffAutoTaskFromConsole(const QString &kind);
    void userSwitchBackupTargetFromConsole(int kind);
    void userSetAutoInstallOSFromConsole(const QString &path);
    void userNeedShowAutoInstallOSMenuFromConsole();
    // A scan has ended and its buttons are laid out.
    void imageFilesReloaded();

public slots:
    void reloadImageFiles();
    void reloadImageFiles_Func();
    void loadImageFromPath(const QString &path, int level);
    void reSortOSListByRecommendedOS(const QString &name);
    void updateAutoFlashingFlag();
    void autoStartOSChanged();
    bool autoFlashing();
    void autoTaskTimerTimeout();
    void userClickTurnOffAutoFlashMenuItem();
    void dataReceivedFromHotPlug();
    void timerToCheckUSBDeviceTimeout();
    void usbDevicesStateChanged();
    void udiskMountAndUnmound();
    void mountMediaFinishAtStartup();
    void mountSDCardFinish();
    void usbMediaMountStatusChanged();
    void formatDone(int drive);
    void onKeepAlive();
    void updateConsoleLink();
    void updateUSBLCDDisplay();
    void consoleLinkMessageReceived(const QString &text);
    void usblcdKeyPressed(int key);
    void osButtonsClicked();
    void reAddMenuButtonActions();
    void reinitUIByImgSmithConfig();
    void relayoutUI(int width, int height);
    void appendLog(const QString &text);
    void onActionReloadImages();
    void onActionPoweroff();
    void onActionReboot();
    void onActionQuit();
    void debugGenDtboImg(bool mainline);
    void reGenDtboImgMainlineMenuItem();
    void reGenDtboImgMenuItem();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void buildUI();
    void clearButtons();
    void addButton(const OSConfig &os);
    void layoutButtons();
    void runMount(const QString &command, const char *slot);
    void updateStatusBar();
    void runShell(const QString &command);
    void saveMacAddressList();
    QString storageModel() const;

    // Scan results, one button per set, in display order.
    QList<OSButton *> m_osButtons;
    QList<OSConfig> m_pendingSets;
    int m_selectedIndex = -1;
    AutoInstallPlanner m_autoInstall;
    ViewType m_viewType = LIST_STYLE;
    QString m_welcomeMessage;
    bool m_hideMenuButton = false;
    bool m_hideBackupAndRestoreButton = false;
    bool m_hideStatusBar = false;
    bool m_udiskPresent = false;
    QString m_udiskDevName;
    QString m_eth0Address = QStringLiteral("0.0.0.0");
    QString m_wlan0Address = QStringLiteral("0.0.0.0");
    QString m_memoryText;
    QString m_loadText;

    HotPlugMonitor *m_hotPlug = nullptr;
    QTimer *m_autoTaskTimer = nullptr;
    QTimer *m_keepAliveTimer = nullptr;
    QTimer *m_reloadTimer = nullptr;

    StatusBarWidget *m_statusBar = nullptr;
    AutoZoomLabel *m_titleLabel = nullptr;
    AutoZoomLabel *m_welcomeLabel = nullptr;
    QLabel *m_errorLabel = nullptr;
    IconButton *m_menuButton = nullptr;
    QMenu *m_menu = nullptr;
    QScrollArea *m_scrollArea = nullptr;
    QWidget *m_buttonPanel = nullptr;
    QGridLayout *m_buttonGrid = nullptr;
    QWidget *m_helpPanel = nullptr;
};
