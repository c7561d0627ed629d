#include "frontend/installprogress.h"

#include <QFile>

#include <time.h>

#include "board/boardhardwareinfo.h"
#include "frontend/consolelayout.h"
#include "frontend/installsummary.h"
#include "install/sdupdatethreadevent.h"
#include "install/sdupdatethreadspeedevent.h"
#include "startup/globals.h"
#include "util/qpaths.h"
#include "util/util.h"

namespace {

const int kLcdWidth = 20;

QString ufsProductName()
{
    static QString cached;
    static bool read = false;
    if (!read) {
        read = true;
        QFile f(sysPath(QStringLiteral("/sys/devices/platform/2a2d0000.ufs/string_descriptors/product_name")));
        if (f.open(QIODevice::ReadOnly))
            cached = QString::fromUtf8(f.readAll()).simplified();
    }
    return cached;
}

QString onboardModel(bool ufs)
{
    if (!ufs)
        return gCurrentBoardInfo ? gCurrentBoardInfo->getEMMCModel() : QStringLiteral("UNKNOW");
    if (gCurrentBoardInfo && gCurrentBoardInfo->cpuName.toUpper() == QLatin1String("RK3576")) {
        const QString name = ufsProductName();
        if (!name.isEmpty())
            return name;
    }
    return QStringLiteral("UNKNOW");
}

} // namespace

InstallProgress::InstallProgress(const OSConfig &os) : m_os(os)
{
}

void InstallProgress::reset()
{
    m_lastStep.clear();
    m_startTaken = m_endTaken = m_verifying = false;
    m_startNs = m_endNs = 0;
    m_fileBytes.clear();
}

qint64 InstallProgress::monotonicNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

QStringList InstallProgress::lcdRows(const QString &text, int rows)
{
    QStringList out;
    for (int at = 0; at < text.size() && out.size() < rows; at += kLcdWidth)
        out << text.mid(at, kLcdWidth);
    return out;
}

QStringList InstallProgress::runningConsoleLines(const QString &message) const
{
    return ConsoleLayout::screen(InstallSummary::installingTitle(m_os), QStringList{message},
                                 QStringLiteral("Enter \"c\" to cancel."));
}

QStringList InstallProgress::runningConsoleInputs()
{
    return {QStringLiteral("c")};
}

QStringList InstallProgress::returnConsoleInputs()
{
    return {QStringLiteral("reboot"), QStringLiteral("poweroff"), QStringLiteral("c")};
}

InstallScreenUpdate InstallProgress::progress(const SDUpdateThreadEvent &e)
{
    InstallScreenUpdate u;
    u.shown = true;
    if (e.isError()) {
        u.status = QStringLiteral("Error: ") + e.errorMessage();
        u.lcdLines << QStringLiteral("Error") << lcdRows(e.errorMessage(), 3);
        u.consoleLines = ConsoleLayout::screen(InstallSummary::installingTitle(m_os), QStringList{u.status},
                                               QStringLiteral("Enter \"c\" to return."));
        u.consoleInputs = returnConsoleInputs();
        return u;
    }
    m_verifying = e.isVerifying();
    if (e.isVerifying()) {
        // The read-back of the image just written: its own step and bar,
        // outside the copy's times.
        u.percent = e.percent();
        u.status = QStringLiteral("(Step %1/%2) Verifying %3 ...").arg(e.fileIndex()).arg(e.fileCount()).arg(e.imageName());
        m_lastStep = u.status;
        const QString pct = QStringLiteral("%1%").arg(e.percent());
        u.lcdLines << QStringLiteral("Verifying") << e.imageName().right(kLcdWidth) << pct;
        u.consoleLines = runningConsoleLines(u.status + QLatin1Char(' ') + pct);
        u.consoleInputs = runningConsoleInputs();
        return u;
    }
    if (e.percent() >= 100 && e.fileIndex() == e.fileCount()) {
        if (!m_endTaken) {
            m_endTaken = true;
            m_endNs = monotonicNs();
        }
        u.percent = 100;
        return u;
    }
    u.percent = e.percent();
    if (!e.isErasing() && !m_startTaken) {
        m_startTaken = true;
        m_startNs = monotonicNs();
    }
    if (e.isErasing())
        u.status = QStringLiteral("(Step %1/%2) Erasing [%3] partition ...")
                       .arg(e.fileIndex()).arg(e.fileCount()).arg(e.partitionName());
    else
        u.status = QStringLiteral("(Step %1/%2) Writing %3 ...").arg(e.fileIndex()).arg(e.fileCount()).arg(e.imageName());
    m_lastStep = u.status;
    return u;
}

InstallScreenUpdate InstallProgress::speed(const SDUpdateThreadSpeedEvent &e, qint64 sinceStartMs)
{
    InstallScreenUpdate u;
    // The last report of each file's copy carries its whole size; the
    // read-back's speed is shown, but its bytes are not the copy's.
    if (!m_verifying)
        m_fileBytes[e.imageName() + QLatin1Char(0x0a) + e.partitionName()] = e.bytesTotal();
    if (sinceStartMs <= kSpeedDelayMs || e.elapsedMs() <= 0 || e.bytesDone() <= 0)
        return u;
    const qint64 rate = qint64(double(e.bytesDone()) * 1000.0 / e.elapsedMs());
    if (rate <= 0)
        return u;
    const qint64 remaining = (e.bytesTotal() - e.bytesDone()) / rate;
    u.shown = true;
    if (remaining < 2)
        u.remaining = QStringLiteral("Remaining Time: 00:00:00");
    else if (remaining <= 3600)
        u.remaining = QStringLiteral("Remaining Time: ") + Util::seconds_to_DHMS_US2(remaining);
    else
        u.remaining = QStringLiteral("Remaining Time: --:--:--");
    u.speed = QStringLiteral("Speed: %1/s").arg(Util::size_human(rate));
    const int pct = e.bytesTotal() > 0 ? int(e.bytesDone() * 100 / e.bytesTotal()) : 0;
    const int bar = e.bytesTotal() > 0 ? int(kLcdWidth * e.bytesDone() / e.bytesTotal()) : 0;
    u.lcdLines << e.imageName().left(kLcdWidth) << u.speed.left(kLcdWidth) << QString(bar, QLatin1Char('=')) + QLatin1Char(']')
               << QStringLiteral("      %1%").arg(pct);
    u.consoleLines = ConsoleLayout::screen(InstallSummary::installingTitle(m_os),
                                           QStringList{m_lastStep, u.speed, u.remaining},
                                           QStringLiteral("Enter \"c\" to cancel."));
    u.consoleInputs = runningConsoleInputs();
    return u;
}

InstallScreenUpdate InstallProgress::lowFormat(bool inProgress, int percent)
{
    InstallScreenUpdate u;
    u.shown = true;
    QStringList text;
    if (inProgress) {
        u.percent = percent;
        u.status = QStringLiteral("Low formatting ...");
        text << QStringLiteral("Formatting ...") << QStringLiteral("%1%").arg(percent);
    } else {
        u.status = QStringLiteral("Low format complete");
        text << QStringLiteral("Formatting") << QStringLiteral("Done");
    }
    u.lcdLines = text;
    u.consoleLines = ConsoleLayout::screen(InstallSummary::installingTitle(m_os), text,
                                           QStringLiteral("Enter \"c\" to cancel."));
    u.consoleInputs = runningConsoleInputs();
    return u;
}

qint64 InstallProgress::copyElapsedMs() const
{
    if (!timesTaken())
        return 0;
    return (m_endNs - m_startNs) / 1000000;
}

qint64 InstallProgress::transferredBytes() const
{
    qint64 sum = 0;
    for (qint64 bytes : m_fileBytes)
        sum += bytes;
    return sum;
}

qint64 InstallProgress::averageRate() const
{
    const qint64 ms = copyElapsedMs();
    return ms > 0 ? qint64(double(transferredBytes()) * 1000.0 / double(ms)) : 0;
}

InstallProgress::Completion InstallProgress::completion(bool rockchip, const TargetDevice &boot) const
{
    Completion c;
    const bool ufs = gCurrentBoardInfo && gCurrentBoardInfo->isOnboardUFS();
    const QString storage = gCurrentBoardInfo ? gCurrentBoardInfo->getOnboardFlashType() : QStringLiteral("eMMC Flash");
    if (!rockchip)
        c.status = QStringLiteral("All done.");
    else if (boot.kind == TargetDeviceEMMC)
        c.status = QStringLiteral("All done, please eject the SD card, the device will reboot and startup from %1.").arg(storage);
    else if (boot.kind == TargetDeviceSDCard || boot.kind == TargetDeviceUSBDisk)
        c.status = QStringLiteral("All done, please power off the device and replace the current SD card with the new one.");
    else
        c.status = QStringLiteral("All done.");

    c.lcdLines << QStringLiteral("Finish!");
    if (timesTaken()) {
        const qint64 rate = averageRate();
        c.averageSpeed = QStringLiteral("Average speed: %1/s").arg(Util::size_human(rate));
        c.totalTime = QStringLiteral("Total time: ") + Util::seconds_to_DHMS_US2(copyElapsedMs() / 1000);
        c.lcdLines << QStringLiteral("Speed: %1/s").arg(Util::size_human(rate))
                   << QStringLiteral("%1: %2").arg(ufs ? QStringLiteral("UFS") : QStringLiteral("eMMC"),
                                                   Util::size_human(gOnboardFlashSize * 1024))
                   << onboardModel(ufs);
    }

    const QString message = rockchip
        ? QStringLiteral("Please eject the SD card, the device will reboot and startup from %1.").arg(storage)
        : QStringLiteral("Please enter the poweroff command to shut down the device, then remove the SD card and restart it.");
    c.consoleLines = ConsoleLayout::screen(QStringLiteral("Installation Complete"), QStringList{message},
                                           QStringLiteral("Enter an option (%1) , or \"c\" to return:")
                                               .arg(QStringLiteral("poweroff/reboot")));
    c.consoleInputs = {QStringLiteral("poweroff"), QStringLiteral("reboot"), QStringLiteral("c")};
    return c;
}
