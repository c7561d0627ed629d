#include "installprinter.h"

#include <QFileInfo>

#include "install/sdupdatefinishthreadevent.h"
#include "install/sdupdatethreadevent.h"
#include "install/sdupdatethreadlowformatevent.h"
#include "install/sdupdatethreadspeedevent.h"
#include "util/qpaths.h"
#include "util/util.h"

namespace {

constexpr int kBarWidth = 30;

QByteArray text(const QString &s)
{
    return s.toLocal8Bit();
}

} // namespace

InstallPrinter::InstallPrinter(FILE *out, bool terminal, QObject *parent)
    : QObject(parent), m_out(out), m_terminal(terminal)
{
}

bool InstallPrinter::event(QEvent *e)
{
    const int type = static_cast<int>(e->type());
    if (type == SDUpdateThreadEvent::SDUPDATE_EVENT_TYPE) {
        auto *ev = static_cast<SDUpdateThreadEvent *>(e);
        if (ev->isError())
            onError(ev->errorMessage());
        else
            onProgress(ev->isErasing() ? Erasing : ev->isVerifying() ? Verifying : Writing, ev->imageName(),
                       ev->partitionName(), ev->fileIndex(), ev->fileCount(), ev->percent());
    } else if (type == SDUpdateThreadSpeedEvent::SDUPDATE_SPEED_EVENT_TYPE) {
        auto *ev = static_cast<SDUpdateThreadSpeedEvent *>(e);
        onSpeed(ev->imageName() + QLatin1Char('\n') + ev->partitionName(), ev->bytesDone(), ev->bytesTotal(),
                ev->elapsedMs());
    } else if (type == SDUpdateThreadLowFormatEvent::SDUPDATE_LOWFORMAT_EVENT_TYPE) {
        auto *ev = static_cast<SDUpdateThreadLowFormatEvent *>(e);
        onLowFormat(ev->inProgress(), ev->percent());
    } else if (type == SDUpdateFinishThreadEvent::SDUPDATE_FINISH_EVENT_TYPE) {
        auto *ev = static_cast<SDUpdateFinishThreadEvent *>(e);
        onFinish(ev->bootDevice(), ev->systemDevice());
    } else {
        return QObject::event(e);
    }
    fflush(m_out);
    return true;
}

void InstallPrinter::onProgress(Phase phase, const QString &image, const QString &partition, int index, int count,
                                int percent)
{
    const bool erasing = phase == Erasing;
    const QString file = QFileInfo(image).fileName();
    const QString key = QStringLiteral("%1/%2 %3 %4 %5").arg(index).arg(count).arg(phase).arg(partition, image);
    if (key != m_stepKey) {
        m_stepKey = key;
        m_lastPercent = -1;
        m_stepSpeed = 0;
        // Name a step by its partition; loaders written outside the table
        // carry their file name there instead.
        const QString part = partition.isEmpty() ? file : partition;
        const QString step = QStringLiteral("[%1/%2]").arg(index).arg(count);
        // Steps that write nothing get their one line and no percentages.
        QString skipped;
        if (!erasing && file.isEmpty())
            skipped = QStringLiteral("no image, nothing to write");
        else if (!erasing && m_excluded.contains(file))
            skipped = file + QStringLiteral(" excluded, not written");
        else if (!erasing && !QFileInfo::exists(sysPath(image)))
            skipped = file + QStringLiteral(" not found, not written");
        m_stepLabel = skipped.isEmpty() ? step + QLatin1Char(' ') + part : QString();
        if (phase == Verifying)
            m_stepLabel += QStringLiteral(" (verifying)");
        if (!skipped.isEmpty())
            beginStep(QStringLiteral("%1 %2: %3").arg(step, part, skipped));
        else if (erasing)
            beginStep(QStringLiteral("%1 Erasing %2").arg(step, part));
        else if (phase == Verifying)
            beginStep(QStringLiteral("%1 Verifying %2").arg(step, part == file ? file : file + QStringLiteral(" on ") + part));
        else if (part == file)
            beginStep(QStringLiteral("%1 Writing %2").arg(step, file));
        else
            beginStep(QStringLiteral("%1 Writing %2 to %3").arg(step, file, part));
    }
    if (!m_stepLabel.isEmpty())
        showPercent(m_stepLabel, percent);
}

void InstallPrinter::onSpeed(const QString &key, qint64 done, qint64 total, double elapsedMs)
{
    Q_UNUSED(total);
    // Counts restart with each image; add only what is new.
    if (key != m_speedKey) {
        m_speedKey = key;
        m_speedDone = 0;
    }
    if (done > m_speedDone) {
        m_bytes += done - m_speedDone;
        m_speedDone = done;
    }
    if (elapsedMs > 0)
        m_stepSpeed = static_cast<double>(done) / 1e3 / elapsedMs;
}

void InstallPrinter::onLowFormat(bool inProgress, int percent)
{
    if (m_stepKey != QLatin1String("low format")) {
        m_stepKey = QStringLiteral("low format");
        m_lastPercent = -1;
        m_stepSpeed = 0;
        m_stepLabel = QStringLiteral("Low format");
        beginStep(QStringLiteral("Low format: erasing the target devices"));
    }
    showPercent(m_stepLabel, inProgress ? percent : 100);
    if (!inProgress) {
        closeBar();
        if (!m_quiet)
            fprintf(m_out, "Low format done\n");
    }
}

void InstallPrinter::onFinish(const TargetDevice &boot, const TargetDevice &system)
{
    closeBar();
    ++m_terminalEvents;
    m_exitCode = 0;
    fprintf(m_out, "All done: %s\n", text(totals()).constData());
    fprintf(m_out, "  boot device:   %s\n", text(boot.getFullDevName()).constData());
    if (system.isNone())
        fprintf(m_out, "  system device: none%s\n",
                m_hasSystemPartitions ? " - no system partitions were written" : "");
    else if (system.devName == boot.devName)
        fprintf(m_out, "  system device: %s (the boot device)\n", text(system.getFullDevName()).constData());
    else
        fprintf(m_out, "  system device: %s\n", text(system.getFullDevName()).constData());
}

void InstallPrinter::onError(const QString &message)
{
    closeBar();
    ++m_terminalEvents;
    m_exitCode = 1;
    fprintf(m_out, "error: %s\n", text(message).constData());
    fprintf(m_out, "  stopped after %s\n", text(totals()).constData());
}

void InstallPrinter::beginStep(const QString &line)
{
    closeBar();
    if (!m_quiet)
        fprintf(m_out, "%s\n", text(line).constData());
}

void InstallPrinter::showPercent(const QString &label, int percent)
{
    if (m_quiet || percent == m_lastPercent)
        return;
    m_lastPercent = percent;
    if (!m_terminal) {
        fprintf(m_out, "%s %3d%%\n", text(label).constData(), percent);
        return;
    }
    const int filled = qBound(0, percent, 100) * kBarWidth / 100;
    const QByteArray bar = QByteArray(filled, '#') + QByteArray(kBarWidth - filled, '-');
    fprintf(m_out, "\r  [%s] %3d%%", bar.constData(), percent);
    if (m_stepSpeed > 0)
        fprintf(m_out, "  %7.1f MB/s", m_stepSpeed);
    fprintf(m_out, "\033[K");
    m_barOpen = true;
}

void InstallPrinter::closeBar()
{
    if (m_barOpen)
        fputc('\n', m_out);
    m_barOpen = false;
}

QString InstallPrinter::totals() const
{
    const double seconds = m_clock.isValid() ? m_clock.elapsed() / 1000.0 : 0;
    QString line = QStringLiteral("%1 bytes of image files (%2) in %3 s")
                       .arg(m_bytes)
                       .arg(Util::size_human(m_bytes))
                       .arg(seconds, 0, 'f', 1);
    if (seconds > 0)
        line += QStringLiteral(", %1 MB/s on average").arg(m_bytes / 1e6 / seconds, 0, 'f', 1);
    return line;
}
