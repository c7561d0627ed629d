#include "frontend/postinstallsequence.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <QTimer>

#include "board/boardhardwareinfo.h"
#include "frontend/consolelayout.h"
#include "frontend/installsummary.h"
#include "frontend/postinstallservices.h"
#include "startup/globals.h"
#include "startup/imgsmithconf.h"
#include "util/log2file.h"
#include "util/qpaths.h"
#include "util/runcmdthread.h"
#include "util/shellquote.h"
#include "util/util.h"

namespace {

bool isRockchipBoard()
{
    return gCurrentBoardInfo && gCurrentBoardInfo->isRockchipCPU();
}

bool hasTwoEthernetPorts()
{
    return gCurrentBoardInfo && gCurrentBoardInfo->ethPortCount >= 2;
}

QString onboardDevName()
{
    return gCurrentBoardInfo ? gCurrentBoardInfo->getOnboardFlashDevName() : QStringLiteral("mmcblk1");
}

} // namespace

PostInstallSequence::PostInstallSequence(PostInstallServices *services, QObject *parent)
    : QObject(parent), m_services(services), m_exit([](int code) { QCoreApplication::exit(code); })
{
}

void PostInstallSequence::reset()
{
    m_started = false;
    m_running = false;
}

bool PostInstallSequence::start(const OSConfig &os, bool overlayfsDisabled)
{
    if (m_started) {
        log2file("post-install steps already ran for this job; finish event ignored\n");
        return false;
    }
    m_started = true;
    m_running = true;
    m_os = os;
    m_overlayfsDisabled = overlayfsDisabled;

    const QString last = Util::getLastPartitionName(onboardDevName());
    if (m_os.osType == RawImage) {
        restoreSteps();
    } else if (m_os.osType == Android || m_os.osType == OpenHarmony || last == QLatin1String("mmcblk1p7")) {
        resizeStep(last);
    } else {
        environmentStep();
    }
    return true;
}

void PostInstallSequence::showStep(const QString &status, const QString &shortText)
{
    emit stepText(status, QStringList{shortText},
                  ConsoleLayout::screen(InstallSummary::installingTitle(m_os), QStringList{shortText},
                                        QStringLiteral("Please wait ...")),
                  QStringList());
}

// A restored back-up: the onboard storage now holds another system; its
// stored MAC address belongs to the board the back-up came from.
void PostInstallSequence::restoreSteps()
{
    m_services->reNewCurrentOSInfo();
    if (isRockchipBoard()) {
        m_services->resetRockchipUbootMacAddress();
        if (gCurrentBoardInfo->cpuName.toUpper() == QLatin1String("RK3399"))
            m_services->resetRK3399MacAddress();
    }
    if (m_services->isBoardUnableToReadPartition()) {
        finishSteps();
        return;
    }
    showStep(QStringLiteral("Executing scripts ..."), QStringLiteral("Executing scripts..."));
    const QString scripts = m_os.imagePath + QLatin1Char('/') + m_os.os_raw_img + QStringLiteral(".d");
    const int rc = m_services->doScriptsInPath(scripts, QString::fromLatin1(kRestoreScriptWrapper));
    if (rc == -2 && debugMode())
        qDebug() << "Cannot read onboard flash partition, ignore scripts";
    if (rc == 0 || rc == -2) {
        finishSteps();
        return;
    }
    m_running = false;
    const QString status = QStringLiteral("Error: fail to call scripts, please check: ") + scripts;
    log2file("%s\n", qPrintable(status));
    emit stepText(status, QStringList{QStringLiteral("Error"), QStringLiteral("Fail to call script")},
                  ConsoleLayout::screen(InstallSummary::installingTitle(m_os), QStringList{status},
                                        QStringLiteral("Enter \"c\" to return.")),
                  QStringList{QStringLiteral("reboot"), QStringLiteral("poweroff"), QStringLiteral("c")});
    emit stepsFailed(status);
}

void PostInstallSequence::resizeStep(const QString &lastPartition)
{
    QString command;
    if (m_os.noResizeFs) {
        showStep(QStringLiteral("ResizeFs has been disabled"), QStringLiteral("ResizeFs disabled"));
        command = QStringLiteral("true");
    } else if (lastPartition.isEmpty()) {
        // No partition listed: resize2fs would be handed "/dev/" itself.
        log2file("no last partition on %s, file system not grown\n", qPrintable(onboardDevName()));
        command = QStringLiteral("true");
    } else {
        showStep(QStringLiteral("Resizing filesystem ..."), QStringLiteral("Resizing filesystem..."));
        command = QStringLiteral("resize2fs /dev/%1 -f").arg(lastPartition);
    }
    runShell(command, SLOT(resizeFileSystemThreadFinish()));
}

void PostInstallSequence::resizeFileSystemThreadFinish()
{
    if (auto *thread = qobject_cast<RunCmdThread *>(sender())) {
        log2file("resize: exit code %d\n", thread->exitCode());
        thread->deleteLater();
    }
    environmentStep();
}

void PostInstallSequence::environmentStep()
{
    if (m_os.os_env_conf.isEmpty() || isRockchipBoard()) {
        finishSteps();
        return;
    }
    showStep(QStringLiteral("Setting env ..."), QStringLiteral("Setting env ..."));
    const QString command = QStringLiteral("%1 /dev/%2 -s %3")
                                .arg(shellQuote(getFWSetenvCmd(m_os)), onboardDevName(),
                                     shellQuote(m_os.getEnvConf(m_overlayfsDisabled)));
    runShell(command, SLOT(setEnvThreadFinish()));
}

void PostInstallSequence::setEnvThreadFinish()
{
    if (auto *thread = qobject_cast<RunCmdThread *>(sender())) {
        log2file("fw_setenv: exit code %d\n", thread->exitCode());
        thread->deleteLater();
    }
    m_os.cleanTmpImagePath();
    finishSteps();
}

void PostInstallSequence::finishSteps()
{
    m_running = false;
    emit allStepsDone();
}

RunCmdThread *PostInstallSequence::runShell(const QString &command, const char *finishSlot)
{
    log2file("run: %s\n", qPrintable(command));
    auto *thread = new RunCmdThread(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command}, false,
                                    QEvent::Type(0), nullptr, this);
    connect(thread, SIGNAL(finished()), this, finishSlot);
    thread->start(QThread::InheritPriority);
    return thread;
}

QString PostInstallSequence::getFWSetenvCmd(const OSConfig &os)
{
    const QString board = os.requireBoards.value(0);
    if (!board.isEmpty() && os.s5pxx18KernelVersion > 0) {
        const bool old = os.s5pxx18KernelVersion < 4;
        const QString candidate = QStringLiteral("/opt/") + board.toLower()
            + (old ? QStringLiteral("-3/fw_setenv") : QStringLiteral("-4/fw_setenv"));
        if (QFileInfo::exists(sysPath(candidate)))
            return sysPath(candidate);
        if (debugMode())
            qDebug() << (old ? "Using Kernel 3.4 but not found: " : "Using Kernel 4.4 but not found: ") << candidate;
    }
    const QString common = QStringLiteral("/opt/fw_setenv");
    if (QFileInfo::exists(sysPath(common)))
        return sysPath(common);
    qWarning() << "Not found fw_setenv* in /opt, using system version which in PATH";
    return QStringLiteral("fw_setenv");
}

void PostInstallSequence::runAllDoneActions()
{
    Util::setStatusLEDSlowFlash();
    if (isRockchipBoard() && hasTwoEthernetPorts())
        Util::setNetworkLEDAlwayOn();

    const ImgSmithConfValues conf = readImgSmithConf(getImgSmithConfFileName());
    if (conf.fileExists && conf.autoExit)
        scheduleExit(0);

    const QString monitor = sysPath(QStringLiteral("/usr/bin/sd_monitor"));
    if (isRockchipBoard() && QFileInfo::exists(monitor) && conf.autoRebootWhenSDBeEjected) {
        // Not waited for: it watches for the card's removal and reboots.
        runShell(shellQuote(monitor), SLOT(sdMonitorThreadFinish()));
    }
}

void PostInstallSequence::sdMonitorThreadFinish()
{
    if (QObject *thread = sender())
        thread->deleteLater();
}

bool PostInstallSequence::quitAfterFailureIfAutoExit()
{
    const ImgSmithConfValues conf = readImgSmithConf(getImgSmithConfFileName());
    if (!conf.fileExists || !conf.autoExit)
        return false;
    scheduleExit(1);
    return true;
}

void PostInstallSequence::scheduleExit(int code)
{
    log2file("autoExit: quitting with status %d in %d ms\n", code, kExitDelayMs);
    auto exitFunction = m_exit;
    QTimer::singleShot(kExitDelayMs, this, [exitFunction, code]() { exitFunction(code); });
}
