// Functions that post the install job's events. They may be called from any
// thread: each allocates one event and hands it to the Qt event queue of the
// receiver, which owns it from then on.
#pragma once

#include <QString>

class QObject;
class TargetDevice;

// The object that receives every install event (the main controller, or a
// test's stand-in). Null drops events. Set before the job starts.
void setInstallEventReceiver(QObject *receiver);
QObject *installEventReceiver();

void postProgressMessage(bool erasing, const QString &imageName, const QString &partitionName,
                         int percent, int fileCount, int fileIndex);
// The read-back of an image after writing it (SDUpdateThreadEvent::isVerifying).
void postVerifyProgressMessage(const QString &imageName, const QString &partitionName, int percent,
                               int fileCount, int fileIndex);
void postErrorMessage(const QString &message);
void postSpeedMessage(const QString &imageName, const QString &partitionName, qint64 bytesDone,
                      qint64 bytesTotal, double elapsedMs);
void postLowFormatMessage(bool inProgress, int percent);
void postFinishMessage(const TargetDevice &bootDevice, const TargetDevice &systemDevice);

// Discard callback of the whole-device erase: done = 1 ends the erase, any
// other call reports percent. name, a and b are the caller's and unused.
void lowformat_callback(const char *name, int a, int b, int done, int percent);
