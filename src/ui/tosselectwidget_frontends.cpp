// The OS selection screen's other front-ends and media: console commands,
// LCD keys and menus, hot plug and mounts, keep-alive and layout.
#include "ui/tosselectwidget.h"

#include "backup/udiskstatus.h"
#include "board/boardhardwareinfo.h"
#include "dts/dtbo.h"
#include "frontend/consolecommandinterpreter.h"
#include "frontend/hotplugmonitor.h"
#include "frontend/imagesetscanner.h"
#include "frontend/macaddresslist.h"
#include "frontend/osmenutexts.h"
#include "frontend/usblcdevent.h"
#include "startup/globals.h"
#include "startup/imgsmithconf.h"
#include "ui/autozoomlabel.h"
#include "ui/backuprestoremodemainwidget.h"
#include "ui/iconbutton.h"
#include "ui/osbutton.h"
#include "ui/statusbarwidget.h"
#include "ui/tdownloaddetailwidget.h"
#include "ui/tmainwidget.h"
#include "util/log2file.h"
#include "util/qpaths.h"
#include "util/runcmdthread.h"
#include "util/shellquote.h"
#include "util/util.h"

#include <QDebug>
#include <QFile>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QScrollArea>
#include <QScrollBar>

#include <sys/sysinfo.h>

namespace {

QString buttonText(const OSConfig &os)
{
    return os.version.isEmpty() ? os.title : os.title + QLatin1Char(' ') + os.version;
}

} // namespace

void TOSSelectWidget::setHotPlugSocket(int fd)
{
    m_hotPlug->setSocket(fd);
}

void TOSSelectWidget::dataReceivedFromHotPlug()
{
    m_hotPlug->dataReceivedFromHotPlug();
}

void TOSSelectWidget::timerToCheckUSBDeviceTimeout()
{
    usbDevicesStateChanged();
}

void TOSSelectWidget::usbDevicesStateChanged()
{
    const QString dev = gCurrentBoardInfo ? gCurrentBoardInfo->getUdiskDevName() : QString();
    const bool present = UDiskStatus::checkUDiskStatus(dev) > 0;
    if (present == m_udiskPresent)
        return;
    gUdiskStatus.reCalcUdiskStatus();
    if (present)
        m_udiskDevName = dev;
    m_udiskPresent = present;
    if (debugMode())
        qDebug().noquote() << "udiskStateChanged " + m_udiskDevName + ", newHasPluged "
                                  + (present ? QStringLiteral("true") : QStringLiteral("false"));
    updateStatusBar();
    udiskMountAndUnmound();
    emit usbDevicesStateChangedSignal();
}

void TOSSelectWidget::runMount(const QString &command, const char *slot)
{
    auto *runner = new RunCmdThread(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command}, false,
                                    QEvent::Type(0), nullptr, this);
    connect(runner, SIGNAL(finished()), this, slot);
    runner->start();
}

void TOSSelectWidget::udiskMountAndUnmound()
{
    if (m_udiskPresent) {
        const QString part = QStringLiteral("/dev/%1%2").arg(m_udiskDevName).arg(1);
        log2file("mount %s to %s\n", qPrintable(part), qPrintable(gUDiskPath));
        runMount(QStringLiteral("mount %1 %2").arg(shellQuote(part), shellQuote(gUDiskPath)),
                 SLOT(mountMediaFinishAtStartup()));
    } else {
        // The drive is gone: its sets must leave the list once the mount
        // point is released.
        runMount(QStringLiteral("umount %1").arg(shellQuote(gUDiskPath)), SLOT(mountMediaFinishAtStartup()));
    }
}

void TOSSelectWidget::mountMediaFinishAtStartup()
{
    if (auto *runner = qobject_cast<RunCmdThread *>(sender())) {
        if (runner->exitCode() != 0)
            qDebug().noquote() << "mount command failed: " + runner->arguments().join(QLatin1Char(' '))
                                      + QStringLiteral(" (exit %1)").arg(runner->exitCode());
        runner->deleteLater();
    }
    gUdiskStatus.reCalcUdiskStatus();
    gUdiskStatus.reCalcAvailableSize();
    updateStatusBar();
    emit usbMediaMountStatusChangedSignal();
    saveMacAddressList();
    reinitUIByImgSmithConfig();
    reloadImageFiles();
}

void TOSSelectWidget::mountSDCardFinish()
{
    if (auto *runner = qobject_cast<RunCmdThread *>(sender()))
        runner->deleteLater();
    reloadImageFiles();
}

void TOSSelectWidget::usbMediaMountStatusChanged()
{
    updateStatusBar();
    updateConsoleLink();
}

void TOSSelectWidget::formatDone(int drive)
{
    if (drive == 1) {
        reloadImageFiles();
    } else if (drive == 2) {
        gUdiskStatus.reCalcUdiskStatus();
        updateStatusBar();
        udiskMountAndUnmound();
        emit usbDevicesStateChangedSignal();
    }
}

void TOSSelectWidget::saveMacAddressList()
{
    if (!m_udiskPresent || Util::isMountPoint(gUDiskPath) != 1 || !gCurrentBoardInfo)
        return;
    const MacAddressList list(gUDiskPath, *gCurrentBoardInfo);
    if (!list.isRequested())
        return;
    QMessageBox::information(this, tr("Mac address"), list.save());
}

void TOSSelectWidget::onKeepAlive()
{
    char buf[64];
    m_eth0Address = Util::getIPAddress("eth0", buf, sizeof buf) == 0 ? QString::fromLatin1(buf)
                                                                     : QStringLiteral("0.0.0.0");
    m_wlan0Address = Util::getIPAddress("wlan0", buf, sizeof buf) == 0 ? QString::fromLatin1(buf)
                                                                       : QStringLiteral("0.0.0.0");
    struct sysinfo si;
    if (sysinfo(&si) == 0) {
        const qint64 unit = si.mem_unit ? si.mem_unit : 1;
        const qint64 total = static_cast<qint64>(si.totalram) * unit;
        const qint64 used = total - static_cast<qint64>(si.freeram + si.bufferram) * unit;
        m_memoryText = QStringLiteral("%1/%2").arg(Util::size_human(used), Util::size_human(total));
    }
    QFile load(sysPath(QStringLiteral("/proc/loadavg")));
    if (load.open(QIODevice::ReadOnly))
        m_loadText = QString::fromLatin1(load.readLine()).section(QLatin1Char(' '), 0, 0);
    updateStatusBar();
}

QString TOSSelectWidget::storageModel() const
{
    if (!gCurrentBoardInfo)
        return QString();
    if (gCurrentBoardInfo->cpuName.toUpper() == QLatin1String("RK3576") && gCurrentBoardInfo->isOnboardUFS()) {
        return Util::readFile(sysPath(QStringLiteral("/sys/devices/platform/2a2d0000.ufs/string_descriptors/product_name")))
            .trimmed();
    }
    return gCurrentBoardInfo->getEMMCModel();
}

void TOSSelectWidget::updateStatusBar()
{
    QStringList texts;
    if (gCurrentBoardInfo) {
        texts << QStringLiteral("%1: %2 / %3")
                     .arg(gCurrentBoardInfo->getOnboardFlashType(), storageModel(),
                          Util::size_human(gOnboardFlashSize * 1024));
    }
    texts << QStringLiteral("Mem: %1").arg(m_memoryText)
          << QStringLiteral("IP: %1").arg(m_eth0Address == QLatin1String("0.0.0.0") ? m_wlan0Address : m_eth0Address)
          << QStringLiteral("ImgSmith %1").arg(getImgSmithVersion());
    m_statusBar->setTexts(texts);
    m_statusBar->setUSBDrivePresent(m_udiskPresent);
}

void TOSSelectWidget::updateUSBLCDDisplay()
{
    QStringList items;
    for (const OSButton *b : std::as_const(m_osButtons))
        items << buttonText(b->osConfig());
    const bool hasStorage = !gCurrentBoardInfo || gCurrentBoardInfo->isExistEMMC() || gCurrentBoardInfo->isExistUFS();
    const QString type = gCurrentBoardInfo ? gCurrentBoardInfo->getOnboardFlashType() : QString();
    const QStringList lines = OSMenuTexts::lcdMenu(hasStorage, type, items, m_selectedIndex);
    USBLCDEvent::showTextToUSBLCD(lines, lines, true);
}

void TOSSelectWidget::updateConsoleLink()
{
    OSMenuModel m;
    if (gCurrentBoardInfo) {
        m.hasOnboardStorage = gCurrentBoardInfo->isExistEMMC() || gCurrentBoardInfo->isExistUFS();
        m.onboardType = gCurrentBoardInfo->getOnboardFlashType();
        m.boardName = gCurrentBoardInfo->boardName;
        m.tfDevName = gCurrentBoardInfo->getSDCardFatPartitionFullName();
    }
    m.onboardSizeKiB = gOnboardFlashSize;
    m.version = getImgSmithVersion();
    m.osNames = enmuOSNames();
    m.usb = BackupMedium::fromUDisk(gUdiskStatus);
    m.usbDevName = QStringLiteral("/dev/%1%2").arg(m_udiskDevName).arg(1);
    if (gMainWidget) {
        m.tf = gMainWidget->tfCardMedium();
        m.backupTarget = gMainWidget->backupRestoreWidget()->targetDeviceKind();
        m.backupFileName = gMainWidget->backupRestoreWidget()->genBackupFileName(m.backupTarget);
    }
    m.autoInstallPath = readAutoFlashingImagePathOrRawFile();
    OSMenuTexts::consoleMenu(m).show();
}

void TOSSelectWidget::consoleLinkMessageReceived(const QString &text)
{
    if (debugMode())
        qDebug().noquote() << "## consoleLinkMessageReceived: " + text;
    if (!gMainWidget)
        return;
    const QList<OSConfig> sets = osList();
    const ConsoleCommand c = ConsoleCommandInterpreter::interpret(
        text, gMainWidget->consoleAcceptedInputs(), sets.size(), m_selectedIndex, gMainWidget->autoInstallChoices());
    switch (c.kind) {
    case ConsoleCommand::Ignored:
    case ConsoleCommand::Unknown:
        return;
    case ConsoleCommand::Reboot: onActionReboot(); break;
    case ConsoleCommand::Poweroff: onActionPoweroff(); break;
    case ConsoleCommand::FormatUSBDrive: emit userSayFormatDriveFromConsole(2); break;
    case ConsoleCommand::FormatTFCard: emit userSayFormatDriveFromConsole(1); break;
    case ConsoleCommand::ConfirmFormat: emit userConfirmFormatDriveFromConsole(); break;
    case ConsoleCommand::AutoInstallOff: emit userOffAutoTaskFromConsole(QStringLiteral("install")); break;
    case ConsoleCommand::AutoRestoreOff: emit userOffAutoTaskFromConsole(QStringLiteral("restore")); break;
    case ConsoleCommand::AutoInstallMenu: emit userNeedShowAutoInstallOSMenuFromConsole(); break;
    case ConsoleCommand::BackupTargetTF: emit userSwitchBackupTargetFromConsole(1); break;
    case ConsoleCommand::BackupTargetUSB: emit userSwitchBackupTargetFromConsole(2); break;
    case ConsoleCommand::StartBackup: emit userSelectBackupFromConsole(); break;
    case ConsoleCommand::SetAutoInstall: emit userSetAutoInstallOSFromConsole(c.path); break;
    case ConsoleCommand::Yes: emit userSayYesFromConsole(sets.at(c.index)); break;
    case ConsoleCommand::Cancel: emit userSayCancelFromConsole(); break;
    case ConsoleCommand::No: emit simBackButtonPressedForDownloadUI(); break;
    case ConsoleCommand::ChooseOS:
        m_selectedIndex = c.index;
        emit osSelectedFromConsole(sets.at(c.index));
        break;
    }
    if (debugMode())
        qDebug().noquote() << QStringLiteral("    %1 has been handled ").arg(ConsoleCommandInterpreter::normalise(text));
}

void TOSSelectWidget::usblcdKeyPressed(int key)
{
    if (!gMainWidget)
        return;
    if (gMainWidget->isJobRunning()) {
        if (debugMode())
            qDebug() << "working in progress, ignore usblcd key";
        return;
    }
    TDownloadDetailWidget *detail = gMainWidget->downloadDetailWidget();
    BackupRestoreModeMainWidget *backup = gMainWidget->backupRestoreWidget();
    if (detail->isVisible() && detail->isInstallDone()) {
        emit simBackButtonPressedForDownloadUI();
        return;
    }
    if (backup->isVisible() && backup->isJobDone()) {
        emit simBackButtonPressedForBKUI();
        return;
    }
    if (m_osButtons.isEmpty())
        return;
    if (key == 1) {
        m_selectedIndex = (m_selectedIndex + 1) % m_osButtons.size();
        updateUSBLCDDisplay();
        updateConsoleLink();
    } else if (key == 2 && m_selectedIndex >= 0 && m_selectedIndex < m_osButtons.size()) {
        emit osSelectedFromUSBLCD(m_osButtons.at(m_selectedIndex)->osConfig());
    }
}

void TOSSelectWidget::runShell(const QString &command)
{
    auto *runner = new RunCmdThread(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command}, false,
                                    QEvent::Type(0), nullptr, this);
    connect(runner, &QThread::finished, runner, &QObject::deleteLater);
    runner->start();
}

void TOSSelectWidget::onActionPoweroff()
{
    runShell(QStringLiteral("poweroff"));
}

void TOSSelectWidget::onActionReboot()
{
    runShell(QStringLiteral("reboot"));
}

void TOSSelectWidget::onActionQuit()
{
    QMessageBox::information(this, tr("Message"), tr("Please press Alt-F2 to login from tty2."));
}

void TOSSelectWidget::appendLog(const QString &text)
{
    log2file("%s\n", qPrintable(text));
}

void TOSSelectWidget::relayoutUI(int width, int height)
{
    Q_UNUSED(width);
    // Everything scales with the height: 480 px panels are the reference.
    const double scale = qMax(0.75, height / 480.0);
    m_statusBar->setFixedHeight(qRound(30 * scale));
    QFont title = font();
    title.setPixelSize(qRound(24 * scale));
    title.setBold(true);
    m_titleLabel->setFont(title);
    QFont body = font();
    body.setPixelSize(qRound(15 * scale));
    m_welcomeLabel->setFont(body);
    m_errorLabel->setFont(body);
    for (QLabel *l : m_helpPanel->findChildren<QLabel *>())
        l->setFont(body);
    m_menuButton->setFixedSize(qRound(48 * scale), qRound(48 * scale));
    for (OSButton *b : std::as_const(m_osButtons))
        b->setScale(scale);
    layoutButtons();
}

void TOSSelectWidget::layoutButtons()
{
    while (m_buttonGrid->count() > 0)
        delete m_buttonGrid->takeAt(0);
    const double scale = qMax(0.75, height() / 480.0);
    const int gap = qRound(8 * scale);
    m_buttonGrid->setSpacing(gap);
    m_buttonGrid->setContentsMargins(gap * 2, gap, gap * 2, gap);
    int columns = 1;
    if (m_viewType == ICON_STYLE && !m_osButtons.isEmpty()) {
        const int cell = m_osButtons.first()->sizeHint().width() + gap;
        const int usable = m_scrollArea->width() - m_scrollArea->verticalScrollBar()->sizeHint().width() - 4 * gap;
        columns = qMax(1, usable / qMax(1, cell));
    }
    for (int i = 0; i < m_osButtons.size(); ++i) {
        OSButton *b = m_osButtons.at(i);
        b->setScale(scale);
        m_buttonGrid->addWidget(b, i / columns, i % columns);
        b->show();
    }
    for (int c = 0; c < m_buttonGrid->columnCount(); ++c)
        m_buttonGrid->setColumnStretch(c, 1);
    m_scrollArea->setVisible(!m_osButtons.isEmpty());
    m_helpPanel->setVisible(m_osButtons.isEmpty());
}

void TOSSelectWidget::debugGenDtboImg(bool mainline)
{
    const QString cpu = gCurrentBoardInfo ? gCurrentBoardInfo->cpuName : QString();
    const int rc = build_dtbo_img(cpu, QStringLiteral("/tmp/dtbo.img"), mainline, QString(), QString(), {}, {}, false);
    QMessageBox::information(this, tr("Message"), rc == 0 ? tr("/tmp/dtbo.img saved.") : tr("Fail to gen dtbo.img."));
}

void TOSSelectWidget::reGenDtboImgMainlineMenuItem()
{
    debugGenDtboImg(true);
}

void TOSSelectWidget::reGenDtboImgMenuItem()
{
    debugGenDtboImg(false);
}
