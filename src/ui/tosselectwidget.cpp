#include "ui/tosselectwidget.h"

#include "backup/udiskstatus.h"
#include "board/boardhardwareinfo.h"
#include "frontend/hotplugmonitor.h"
#include "frontend/imagesetscanner.h"
#include "startup/globals.h"
#include "startup/imgsmithconf.h"
#include "ui/autozoomlabel.h"
#include "ui/iconbutton.h"
#include "ui/osbutton.h"
#include "ui/statusbarwidget.h"
#include "ui/tmainwidget.h"
#include "util/log2file.h"
#include "util/qpaths.h"
#include "util/util.h"

#include <QDebug>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

namespace {

void debugLog(const QString &text)
{
    if (debugMode())
        qDebug().noquote() << text;
}

} // namespace

TOSSelectWidget::TOSSelectWidget(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("osSelectWidget"));
    const QString viewType = qEnvironmentVariable("IMGSMITH_VIEWTYPE");
    if (viewType == QLatin1String("icon")) {
        m_viewType = ICON_STYLE;
        log2file("set to ICON_STYLE cause IMGSMITH_VIEWTYPE\n");
    } else if (viewType == QLatin1String("list")) {
        m_viewType = LIST_STYLE;
        log2file("set to LIST_STYLE cause IMGSMITH_VIEWTYPE\n");
    }
    buildUI();

    m_autoTaskTimer = new QTimer(this);
    m_autoTaskTimer->setSingleShot(true);
    connect(m_autoTaskTimer, &QTimer::timeout, this, &TOSSelectWidget::autoTaskTimerTimeout);
    m_keepAliveTimer = new QTimer(this);
    connect(m_keepAliveTimer, &QTimer::timeout, this, &TOSSelectWidget::onKeepAlive);
    m_keepAliveTimer->start(1500);
    m_reloadTimer = new QTimer(this);
    m_reloadTimer->setSingleShot(true);
    connect(m_reloadTimer, &QTimer::timeout, this, &TOSSelectWidget::reloadImageFiles_Func);

    QDir().mkpath(sysPath(gSDCardPath));
    QDir().mkpath(sysPath(gUDiskPath));
    if (gCurrentBoardInfo)
        m_udiskDevName = gCurrentBoardInfo->getUdiskDevName();
    gUdiskStatus.reCalcUdiskStatus();
    gUdiskStatus.reCalcAvailableSize();
    m_udiskPresent = gUdiskStatus.isPresent();

    m_hotPlug = new HotPlugMonitor(this);
    connect(m_hotPlug, &HotPlugMonitor::checkRequested, this, &TOSSelectWidget::timerToCheckUSBDeviceTimeout);
    bool fdFromEnv = false;
    const int envFd = qEnvironmentVariableIntValue("IMGSMITH_HOTPLUG_FD", &fdFromEnv);
    m_hotPlug->setSocket(fdFromEnv ? envFd : HotPlugMonitor::openKernelUeventSocket());

    if (Util::isMountPoint(gSDCardPath) != 1 && gCurrentBoardInfo) {
        const QString part = gCurrentBoardInfo->getSDCardFatPartitionFullName();
        log2file(">> mount %s to %s\n", qPrintable(part), qPrintable(gSDCardPath));
        runMount(QStringLiteral("mount %1 %2").arg(part, gSDCardPath), SLOT(mountSDCardFinish()));
    }
    if (m_udiskPresent && Util::isMountPoint(gUDiskPath) != 1)
        udiskMountAndUnmound();

    QTimer::singleShot(0, this, &TOSSelectWidget::reinitUIByImgSmithConfig);
    reloadImageFiles();
    onKeepAlive();
}

TOSSelectWidget::~TOSSelectWidget() = default;

void TOSSelectWidget::buildUI()
{
    setAttribute(Qt::WA_StyledBackground, true);
    setStyleSheet(QStringLiteral("#osSelectWidget, #osButtonPanel, #osListArea, #noImageHelp { background: #F5F6F8; }"
                                 "#welcomeLabel, #noImageText { color: #59636E; }"
                                 "#titleLabel { color: #1F2328; }"
                                 "QMenu { background: #FFFFFF; border: 1px solid #DDE1E6; padding: 6px; }"
                                 "QMenu::item { padding: 14px 28px; color: #1F2328; }"
                                 "QMenu::item:selected { background: #E8F1F9; }"));
    auto *root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    m_statusBar = new StatusBarWidget(this);
    root->addWidget(m_statusBar);

    auto *header = new QWidget(this);
    header->setObjectName(QStringLiteral("osSelectHeader"));
    auto *headerLayout = new QHBoxLayout(header);
    headerLayout->setContentsMargins(16, 8, 16, 4);
    auto *titles = new QVBoxLayout;
    m_welcomeLabel = new AutoZoomLabel(header);
    m_welcomeLabel->setObjectName(QStringLiteral("welcomeLabel"));
    m_titleLabel = new AutoZoomLabel(header);
    m_titleLabel->setObjectName(QStringLiteral("titleLabel"));
    titles->addWidget(m_welcomeLabel);
    titles->addWidget(m_titleLabel);
    headerLayout->addLayout(titles, 1);
    m_menuButton = new IconButton(IconButton::Menu, header);
    m_menuButton->setObjectName(QStringLiteral("menuButton"));
    headerLayout->addWidget(m_menuButton, 0, Qt::AlignVCenter);
    root->addWidget(header);

    m_errorLabel = new QLabel(this);
    m_errorLabel->setObjectName(QStringLiteral("storageErrorLabel"));
    m_errorLabel->setAlignment(Qt::AlignCenter);
    m_errorLabel->hide();
    root->addWidget(m_errorLabel);

    m_scrollArea = new QScrollArea(this);
    m_scrollArea->setObjectName(QStringLiteral("osListArea"));
    m_scrollArea->setWidgetResizable(true);
    m_scrollArea->setFrameShape(QFrame::NoFrame);
    m_scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_buttonPanel = new QWidget(m_scrollArea);
    m_buttonPanel->setObjectName(QStringLiteral("osButtonPanel"));
    m_buttonGrid = new QGridLayout(m_buttonPanel);
    m_buttonGrid->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    m_scrollArea->setWidget(m_buttonPanel);
    root->addWidget(m_scrollArea, 1);

    m_helpPanel = new QWidget(this);
    m_helpPanel->setObjectName(QStringLiteral("noImageHelp"));
    auto *helpLayout = new QHBoxLayout(m_helpPanel);
    auto *picture = new QLabel(m_helpPanel);
    picture->setObjectName(QStringLiteral("noImagePicture"));
    picture->setPixmap(QPixmap(QStringLiteral(":/sdcardfiles.png")));
    picture->setAlignment(Qt::AlignCenter);
    auto *help = new QLabel(m_helpPanel);
    help->setObjectName(QStringLiteral("noImageText"));
    help->setWordWrap(true);
    help->setText(tr("No image files found on SD card or USB Disk, you can:") + QStringLiteral("\n\n")
                  + tr("1. Download an OS image set for this board from the board maker's download page.")
                  + QStringLiteral("\n") + tr("2. Create a new directory on the SD card or on a USB drive.")
                  + QStringLiteral("\n") + tr("3. Copy the image files into it, then insert the card or drive again."));
    helpLayout->addWidget(picture);
    helpLayout->addWidget(help, 1);
    m_helpPanel->hide();
    root->addWidget(m_helpPanel, 1);

    m_menu = new QMenu(this);
    m_menu->setObjectName(QStringLiteral("osSelectMenu"));
    connect(m_menuButton, &QAbstractButton::clicked, this, [this] {
        m_menu->popup(m_menuButton->mapToGlobal(QPoint(m_menuButton->width() - m_menu->sizeHint().width(),
                                                      m_menuButton->height())));
    });
    reAddMenuButtonActions();
}

QList<OSConfig> TOSSelectWidget::osList() const
{
    QList<OSConfig> list;
    for (const OSButton *b : m_osButtons)
        list << b->osConfig();
    return list;
}

void TOSSelectWidget::setViewType(ViewType type)
{
    m_viewType = type;
    for (OSButton *b : m_osButtons)
        b->setViewStyle(type == ICON_STYLE ? OSButton::IconStyle : OSButton::ListStyle);
    layoutButtons();
}

void TOSSelectWidget::reloadImageFiles()
{
    // Any number of requests in one event-loop pass give one scan.
    m_reloadTimer->start(0);
}

void TOSSelectWidget::clearButtons()
{
    for (OSButton *b : m_osButtons) {
        b->disconnect(this);
        b->hide();
        b->deleteLater();
    }
    m_osButtons.clear();
}

void TOSSelectWidget::addButton(const OSConfig &os)
{
    auto *b = new OSButton(os, m_buttonPanel);
    b->setObjectName(QStringLiteral("osButton%1").arg(m_osButtons.size() + 1));
    b->setViewStyle(m_viewType == ICON_STYLE ? OSButton::IconStyle : OSButton::ListStyle);
    m_osButtons << b;
}

void TOSSelectWidget::loadImageFromPath(const QString &path, int level)
{
    ImageSetScanner().loadImageFromPath(path, level, m_pendingSets);
}

void TOSSelectWidget::reSortOSListByRecommendedOS(const QString &name)
{
    ImageSetScanner::reSortOSListByRecommendedOS(m_pendingSets, name);
}

void TOSSelectWidget::reloadImageFiles_Func()
{
    debugLog(QStringLiteral(">>>>>>>> reloadImageFiles start <<<<<<<<"));
    clearButtons();
    m_pendingSets.clear();
    QStringList mounts;
    for (const QString &mount : {gUDiskPath, gSDCardPath}) {
        if (Util::isMountPoint(mount) == 1)
            mounts << mount;
        else
            debugLog(mount + QStringLiteral(" isnot mountpoint"));
    }
    m_pendingSets = ImageSetScanner().scan(mounts);
    // The recommended set goes first before the menus are built, so that the
    // console numbers and LCD lines match the buttons.
    if (gCurrentBoardInfo && !gCurrentBoardInfo->defaultOSName.isEmpty())
        reSortOSListByRecommendedOS(gCurrentBoardInfo->defaultOSName);
    for (const OSConfig &os : std::as_const(m_pendingSets))
        addButton(os);
    for (OSButton *b : std::as_const(m_osButtons))
        connect(b, &QAbstractButton::clicked, this, &TOSSelectWidget::osButtonsClicked);
    if (m_selectedIndex >= m_osButtons.size() || m_selectedIndex < 0)
        m_selectedIndex = m_osButtons.isEmpty() ? -1 : 0;

    updateAutoFlashingFlag();
    m_titleLabel->setText(tr("Select an OS:"));
    bool anyMarked = false;
    for (const OSButton *b : std::as_const(m_osButtons))
        anyMarked = anyMarked || b->isAutoFlashing();

    QStringList paths;
    for (const OSConfig &os : std::as_const(m_pendingSets))
        paths << ImageSetScanner::autoStartPathOf(os);
    writeDefaultImgSmithConf(paths, {gUDiskPath, gSDCardPath});

    m_autoTaskTimer->stop();
    if (m_autoInstall.scanFinished(anyMarked))
        m_autoTaskTimer->start(200);

    const bool hasStorage = !gCurrentBoardInfo || gCurrentBoardInfo->isExistEMMC() || gCurrentBoardInfo->isExistUFS();
    if (!hasStorage) {
        m_errorLabel->setText(tr("Error: %1 not recognized").arg(gCurrentBoardInfo->getOnboardFlashType()));
        m_errorLabel->setStyleSheet(QStringLiteral("color: #C62828; font-weight: bold;"));
    }
    m_errorLabel->setVisible(!hasStorage);

    updateUSBLCDDisplay();
    updateConsoleLink();
    layoutButtons();

    if (debugMode()) {
        qDebug().noquote() << QStringLiteral(">>>>>>>> reloadImageFiles end, os count:") << m_osButtons.size()
                           << QStringLiteral(" <<<<<<<<");
        const QStringList ids = enmuOSIds();
        for (int i = 0; i < ids.size(); ++i)
            qDebug().noquote() << QStringLiteral("    %1) %2").arg(i + 1).arg(ids.at(i));
        qDebug().noquote() << QStringLiteral("------- reloadImageFiles done. ------------");
    }
    emit imageFilesReloaded();
}

QStringList TOSSelectWidget::enmuOSNames() const
{
    QStringList names;
    for (const OSButton *b : m_osButtons) {
        const OSConfig &os = b->osConfig();
        names << QStringLiteral("%1 (%2)").arg(os.title, ImageSetScanner::autoStartPathOf(os));
    }
    return names;
}

QStringList TOSSelectWidget::enumFileFromPath(const QString &path, const QString &extension) const
{
    return QDir(sysPath(path)).entryList({QStringLiteral("*.") + extension}, QDir::Files | QDir::NoSymLinks,
                                         QDir::Name);
}

QStringList TOSSelectWidget::enumBackupFile() const
{
    QStringList files;
    for (const QString &mount : {gUDiskPath, gSDCardPath}) {
        if (Util::isMountPoint(mount) != 1)
            continue;
        for (const QString &name : enumFileFromPath(mount, QStringLiteral("raw")))
            files << mount + QLatin1Char('/') + name;
    }
    return files;
}

QStringList TOSSelectWidget::enmuOSIds() const
{
    QStringList ids;
    for (const OSButton *b : m_osButtons)
        ids << ImageSetScanner::autoStartPathOf(b->osConfig());
    return ids;
}

void TOSSelectWidget::updateAutoFlashingFlag()
{
    const QString autoPath = readAutoFlashingImagePathOrRawFile();
    for (OSButton *b : std::as_const(m_osButtons))
        b->setAutoFlashing(b->osConfig().isAutoStart(autoPath));
}

void TOSSelectWidget::autoStartOSChanged()
{
    updateAutoFlashingFlag();
}

bool TOSSelectWidget::autoFlashing()
{
    if (!gCurrentBoardInfo || !AutoInstallPlanner::targetExists(*gCurrentBoardInfo)) {
        qDebug().noquote() << QStringLiteral("autoFlashing: no target storage, automatic install skipped");
        return false;
    }
    for (OSButton *b : std::as_const(m_osButtons)) {
        if (b->isAutoFlashing()) {
            emit osSelectedFromUSBLCD(b->osConfig());
            return true;
        }
    }
    return false;
}

void TOSSelectWidget::autoTaskTimerTimeout()
{
    const bool target = gCurrentBoardInfo && AutoInstallPlanner::targetExists(*gCurrentBoardInfo);
    if (m_autoInstall.timerFired(target))
        autoFlashing();
}

void TOSSelectWidget::userClickTurnOffAutoFlashMenuItem()
{
    setImgSmithConfAutoStart(QString());
    updateAutoFlashingFlag();
    QMessageBox::information(this, tr("Message"), tr("Operation completed."));
}

void TOSSelectWidget::osButtonsClicked()
{
    auto *b = qobject_cast<OSButton *>(sender());
    if (!b)
        return;
    m_selectedIndex = m_osButtons.indexOf(b);
    emit osSelected(b->osConfig());
}

void TOSSelectWidget::onActionReloadImages()
{
    m_autoInstall.manualRefreshUsed();
    reloadImageFiles();
}

void TOSSelectWidget::reAddMenuButtonActions()
{
    m_menu->clear();
    m_menu->addAction(tr("Refresh"), this, &TOSSelectWidget::onActionReloadImages);
    if (!m_hideBackupAndRestoreButton) {
        m_menu->addAction(tr("1-Key Backup System to SD Card"), this, &TOSSelectWidget::user1KeyBackupMenuItem);
        m_menu->addAction(tr("Advanced Backup and Restore"), this, &TOSSelectWidget::userClickBackupRestoreMenuItem);
    }
    m_menu->addAction(tr("Switch eth0 to DHCP"), this, &TOSSelectWidget::userClickSwitchEth0ToDHCPMenuItem);
    m_menu->addAction(tr("Turn off auto-flash"), this, &TOSSelectWidget::userClickTurnOffAutoFlashMenuItem);
    const QString cpu = gCurrentBoardInfo ? gCurrentBoardInfo->cpuName.toUpper() : QString();
    if (debugMode() && (cpu == QLatin1String("RK3328") || cpu == QLatin1String("RK3399"))) {
        m_menu->addAction(tr("Re-gen dtbo.img (mainline)"), this, &TOSSelectWidget::reGenDtboImgMainlineMenuItem);
        m_menu->addAction(tr("Re-gen dtbo.img (rockchip)"), this, &TOSSelectWidget::reGenDtboImgMenuItem);
    }
    m_menu->addAction(tr("Poweroff"), this, &TOSSelectWidget::onActionPoweroff);
    m_menuButton->setVisible(!m_hideMenuButton);
}

void TOSSelectWidget::reinitUIByImgSmithConfig()
{
    const QString file = getImgSmithConfFileName();
    log2file("Using config file: %s\n", qPrintable(file));
    log2file("%s\n", QByteArray(55, '-').constData());
    const ImgSmithConfValues c = readImgSmithConf(file);
    if (c.fileExists) {
        m_welcomeMessage = c.welcomeMessage;
        m_hideMenuButton = c.hideMenuButton;
        m_hideBackupAndRestoreButton = c.hideBackupAndRestoreButton;
        m_hideStatusBar = c.hideStatusBar;
        if (c.osListViewType.compare(QLatin1String("icon"), Qt::CaseInsensitive) == 0) {
            log2file("set to ICON_STYLE cause imgsmith.conf osListViewType\n");
            setViewType(ICON_STYLE);
        } else if (c.osListViewType.compare(QLatin1String("list"), Qt::CaseInsensitive) == 0) {
            log2file("set to LIST_STYLE cause imgsmith.conf osListViewType\n");
            setViewType(LIST_STYLE);
        }
        if (gMainWidget)
            gMainWidget->resizeMainWidget();
    } else {
        log2file("File not found: %s\n", qPrintable(file));
        m_welcomeMessage.clear();
        m_hideMenuButton = false;
        m_hideBackupAndRestoreButton = false;
        m_hideStatusBar = false;
    }
    const QString board = gCurrentBoardInfo ? gCurrentBoardInfo->boardName : QString();
    m_welcomeLabel->setText(m_welcomeMessage.isEmpty() ? tr("Welcome to %1").arg(board) : m_welcomeMessage);
    m_statusBar->setTextsHidden(m_hideStatusBar);
    reAddMenuButtonActions();
}

void TOSSelectWidget::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    relayoutUI(width(), height());
}
