#include "installprinter.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>

#include "install/sdupdatefinishthreadevent.h"
#include "install/sdupdatethread.h"
#include "install/sdupdatethreadevent.h"
#include "install/sdupdatethreadlowformatevent.h"
#include "install/sdupdatethreadspeedevent.h"

InstallPrinter::InstallPrinter(SDUpdateThread *job, QObject *parent) : QObject(parent), m_job(job)
{
}

bool InstallPrinter::event(QEvent *e)
{
    const int type = static_cast<int>(e->type());
    if (type == SDUpdateThreadEvent::SDUPDATE_EVENT_TYPE) {
        auto *ev = static_cast<SDUpdateThreadEvent *>(e);
        if (ev->isError()) {
            ++m_terminalEvents;
            m_exitCode = 1;
            fprintf(stdout, "error: %s\n", qPrintable(ev->errorMessage()));
        } else {
            if (!m_quiet)
                fprintf(stdout, "(Step %d/%d) %s %s [%s] %3d%%\n", ev->fileIndex(), ev->fileCount(),
                        ev->isErasing() ? "Erasing" : "Writing", qPrintable(ev->imageName()),
                        qPrintable(ev->partitionName()), ev->percent());
        }
    } else if (type == SDUpdateThreadSpeedEvent::SDUPDATE_SPEED_EVENT_TYPE) {
        auto *ev = static_cast<SDUpdateThreadSpeedEvent *>(e);
        if (!m_quiet && ev->elapsedMs() > 0)
            fprintf(stdout, "             %lld/%lld bytes, %.1f MB/s\n", static_cast<long long>(ev->bytesDone()),
                    static_cast<long long>(ev->bytesTotal()),
                    static_cast<double>(ev->bytesDone()) / 1e6 / (ev->elapsedMs() / 1000.0));
    } else if (type == SDUpdateThreadLowFormatEvent::SDUPDATE_LOWFORMAT_EVENT_TYPE) {
        auto *ev = static_cast<SDUpdateThreadLowFormatEvent *>(e);
        if (!m_quiet) {
            if (ev->inProgress())
                fprintf(stdout, "Low formatting ... %3d%%\n", ev->percent());
            else
                fprintf(stdout, "Low format done\n");
        }
    } else if (type == SDUpdateFinishThreadEvent::SDUPDATE_FINISH_EVENT_TYPE) {
        auto *ev = static_cast<SDUpdateFinishThreadEvent *>(e);
        ++m_terminalEvents;
        m_exitCode = 0;
        fprintf(stdout, "All done: boot device %s, system device %s\n", qPrintable(ev->bootDevice().getFullDevName()),
                qPrintable(ev->systemDevice().getFullDevName()));
    } else {
        return QObject::event(e);
    }
    fflush(stdout);
    return true;
}
