#include "install/installevents.h"

#include <QCoreApplication>

#include <atomic>

#include "install/sdupdatefinishthreadevent.h"
#include "install/sdupdatethreadevent.h"
#include "install/sdupdatethreadlowformatevent.h"
#include "install/sdupdatethreadspeedevent.h"
#include "util/log2file.h"

namespace {
// Written on the GUI thread before a job starts, read by the worker.
std::atomic<QObject *> g_receiver{nullptr};

void post(QEvent *event)
{
    QObject *receiver = g_receiver.load();
    if (!receiver) {
        log2file("install event %d dropped: no receiver\n", static_cast<int>(event->type()));
        delete event;
        return;
    }
    QCoreApplication::postEvent(receiver, event);
}
} // namespace

void setInstallEventReceiver(QObject *receiver)
{
    g_receiver.store(receiver);
}

QObject *installEventReceiver()
{
    return g_receiver.load();
}

void postProgressMessage(bool erasing, const QString &imageName, const QString &partitionName,
                         int percent, int fileCount, int fileIndex)
{
    post(new SDUpdateThreadEvent(erasing, imageName, partitionName, percent, fileCount, fileIndex));
}

void postVerifyProgressMessage(const QString &imageName, const QString &partitionName, int percent,
                               int fileCount, int fileIndex)
{
    auto *e = new SDUpdateThreadEvent(false, imageName, partitionName, percent, fileCount, fileIndex);
    e->setVerifying(true);
    post(e);
}

void postErrorMessage(const QString &message)
{
    post(new SDUpdateThreadEvent(message));
}

void postSpeedMessage(const QString &imageName, const QString &partitionName, qint64 bytesDone,
                      qint64 bytesTotal, double elapsedMs)
{
    post(new SDUpdateThreadSpeedEvent(imageName, partitionName, bytesDone, bytesTotal, elapsedMs));
}

void postLowFormatMessage(bool inProgress, int percent)
{
    post(new SDUpdateThreadLowFormatEvent(inProgress, percent));
}

void postFinishMessage(const TargetDevice &bootDevice, const TargetDevice &systemDevice)
{
    post(new SDUpdateFinishThreadEvent(bootDevice, systemDevice));
}

void lowformat_callback(const char *name, int a, int b, int done, int percent)
{
    (void)name;
    (void)a;
    (void)b;
    if (done == 1)
        postLowFormatMessage(false, 0);
    else
        postLowFormatMessage(true, percent);
}
