#include "support/qt/installrecorder.h"

#include <QEvent>
#include <QFileInfo>

#include <gtest/gtest.h>

#include "backup/onboardflashbackupandrestorethreadevent.h"
#include "install/installevents.h"
#include "install/jobreport.h"
#include "install/sdupdatefinishthreadevent.h"
#include "install/sdupdatethread.h"
#include "install/sdupdatethreadevent.h"
#include "install/sdupdatethreadlowformatevent.h"
#include "install/sdupdatethreadspeedevent.h"
#include "startup/globals.h"
#include "storage/mmc.h"
#include "support/qt/simboard.h"
#include "util/qpaths.h"

namespace testsupport {

namespace {
qint64 sdCardReportBytes()
{
    const QFileInfo report(sysPath(gSDCardPath + QLatin1Char('/') + QLatin1String(JobReport::kFileName)));
    return report.exists() ? report.size() : -1;
}
} // namespace

int EventLog::count(int type) const
{
    return static_cast<int>(ofType(type).size());
}

QList<RecordedEvent> EventLog::ofType(int type) const
{
    QList<RecordedEvent> out;
    for (const RecordedEvent &e : events)
        if (e.type == type)
            out.append(e);
    return out;
}

QList<RecordedEvent> EventLog::terminal() const
{
    QList<RecordedEvent> out;
    for (const RecordedEvent &e : events)
        if ((e.type == 1100 && e.isError) || e.type == 1111)
            out.append(e);
    return out;
}

QString EventLog::errorText() const
{
    for (const RecordedEvent &e : events)
        if (e.isError)
            return e.errorMessage;
    return QString();
}

bool EventRecorder::event(QEvent *e)
{
    RecordedEvent r;
    r.type = static_cast<int>(e->type());
    if (e->type() == SDUpdateThreadEvent::SDUPDATE_EVENT_TYPE) {
        auto *ev = static_cast<SDUpdateThreadEvent *>(e);
        r.erasing = ev->isErasing();
        r.verifying = ev->isVerifying();
        r.percent = ev->percent();
        r.imageName = ev->imageName();
        r.partitionName = ev->partitionName();
        r.fileCount = ev->fileCount();
        r.fileIndex = ev->fileIndex();
        r.isError = ev->isError();
        r.errorMessage = ev->errorMessage();
    } else if (e->type() == SDUpdateThreadSpeedEvent::SDUPDATE_SPEED_EVENT_TYPE) {
        auto *ev = static_cast<SDUpdateThreadSpeedEvent *>(e);
        r.imageName = ev->imageName();
        r.partitionName = ev->partitionName();
        r.bytesDone = ev->bytesDone();
        r.bytesTotal = ev->bytesTotal();
        r.elapsedMs = ev->elapsedMs();
    } else if (e->type() == SDUpdateThreadLowFormatEvent::SDUPDATE_LOWFORMAT_EVENT_TYPE) {
        auto *ev = static_cast<SDUpdateThreadLowFormatEvent *>(e);
        r.inProgress = ev->inProgress();
        r.percent = ev->percent();
    } else if (e->type() == OnboardFlashBackupAndRestoreThreadEvent::ONBOARDFLASH_BR_EVENT_TYPE) {
        auto *ev = static_cast<OnboardFlashBackupAndRestoreThreadEvent *>(e);
        r.action = ev->action();
        r.percent = ev->percent();
        r.isError = ev->isError();
        r.errorMessage = ev->message();
    } else if (r.type == 1201 || r.type == 1202) {
        // The back-up's speed and finish: their arrival is what counts.
    } else if (e->type() == SDUpdateFinishThreadEvent::SDUPDATE_FINISH_EVENT_TYPE) {
        auto *ev = static_cast<SDUpdateFinishThreadEvent *>(e);
        r.bootDevName = ev->bootDevice().devName;
        r.systemDevName = ev->systemDevice().devName;
    } else {
        return QObject::event(e);
    }
    if (r.isError || r.type == 1111 || r.type == 1202)
        r.reportBytes = sdCardReportBytes();
    events.append(r);
    return true;
}

void expectRecordBeforeFinalEvent(const EventLog &log)
{
    for (const RecordedEvent &e : log.events)
        if (e.reportBytes)
            EXPECT_EQ(*e.reportBytes, sdCardReportBytes()) << "the record was written after the final event";
}

EventLog runInstall(SDUpdateThread &job)
{
    EventRecorder recorder;
    job.setEventReceiver(&recorder);
    runThreadToEnd(job, [&] { job.start(); }, &recorder);
    setInstallEventReceiver(nullptr);
    EventLog log = recorder;
    EXPECT_EQ(mmc_fd, -1) << "the device must be released when the job ends";
    EXPECT_EQ(log.terminal().size(), 1) << "exactly one terminal event";
    expectRecordBeforeFinalEvent(log);
    if (!log.events.isEmpty()) {
        const RecordedEvent &last = log.events.last();
        EXPECT_TRUE(last.type == 1111 || (last.type == 1100 && last.isError)) << "the terminal event comes last";
    }
    return log;
}

} // namespace testsupport
