// The install job: writes one image set to one or two target devices on a
// worker thread and reports only through the install events, ending with
// exactly one error event or one finish event.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>

#include "board/targetdevice.h"
#include "imageset/osconfig.h"
#include "install/deviceplan.h"
#include "install/jobreport.h"
#include "install/writtenimage.h"

struct UfsBootPlan;

class SDUpdateThread : public QThread
{
    Q_OBJECT
public:
    SDUpdateThread(const OSConfig &config, const TargetDevice &bootDevice,
                   const TargetDevice &systemDevice, QObject *parent = nullptr);
    ~SDUpdateThread() override;

    // Replaces both devices unless the job is running.
    void updateDeviceChanged(const TargetDevice &bootDevice, const TargetDevice &systemDevice);

    // Options, set before start().
    void setLowFormat(bool on) { m_lowFormat = on; }
    bool lowFormat() const { return m_lowFormat; }
    void setOverlayfsDisabled(bool on) { m_overlayfsDisabled = on; }
    bool overlayfsDisabled() const { return m_overlayfsDisabled; }
    // Read every image back after writing it and fail on a difference.
    void setVerifyAfterWrite(bool on) { m_verifyAfterWrite = on; }
    bool verifyAfterWrite() const { return m_verifyAfterWrite; }
    void setExcludedFiles(const QStringList &files) { m_excludedFiles = files; }
    const QStringList &excludedFiles() const { return m_excludedFiles; }
    // Where the events go; the install events' process-wide receiver is
    // switched to it when the job starts.
    void setEventReceiver(QObject *receiver) { m_receiver = receiver; }
    // Called on the worker thread, in step with the copy, for every progress
    // report (fileIndex, percent) before its event is posted: lets a
    // front-end act at an exact point of the install (the driver's
    // --cancel-at, tests). Set before start().
    void setProgressObserver(std::function<void(int fileIndex, int percent)> observer)
    {
        m_progressObserver = std::move(observer);
    }

    // The images the last run wrote, in order, with their hash when they
    // were verified. Complete once the job has posted its terminal event;
    // read it from the thread that started the job after finished().
    const QList<WrittenImage> &writtenImages() const { return m_writtenImages; }

    const OSConfig &config() const { return m_config; }
    const TargetDevice &bootDevice() const { return m_bootDevice; }
    const TargetDevice &systemDevice() const { return m_systemDevice; }

    // Cooperative stop, callable from any thread: the job stops between
    // chunks or partitions, releases the device and posts one error event.
    void cancel();
    bool isCancelled() const { return m_cancelled.load(); }

protected:
    void run() override;

private:
    // Stages, in the order run() calls them (installstages.cpp, UFS ones in
    // optionalstages.cpp).
    bool prepare();
    bool prepareUfsLoader();
    bool checkInputFiles();
    bool bringUpUfs();
    bool checkDevices();
    bool checkDevice(DevicePlan &plan, bool isBootDevice);
    bool classifyRawImage();
    // Checks before any write (inputvalidation.cpp).
    bool validateInputs();
    bool validateRawImage();
    bool validatePlan(DevicePlan &plan);
    bool checkTable(const DevicePlan &plan);
    bool validateImage(const DevicePlan &plan, int i, FILE *fp, const QString &image);
    bool refuseTargetAsImage(const QString &image);
    bool lowFormatDevices();
    bool lowFormatDevice(DevicePlan &plan);
    void cleanUp();
    // Leaves the run's record on the medium the set came from.
    void writeReport(bool ok);

    // Partition-map flow (partmapflow.cpp).
    bool runPartitionMapFlow();
    bool loadPlan(DevicePlan &plan, int index);
    bool writePartitionTable(DevicePlan &plan, int index);
    bool writePartitions(DevicePlan &plan, int index);
    bool writePartition(DevicePlan &plan, int index, int i, int pathWidth);
    // Bytes the image file takes on the device (an S5P loader gets a header).
    static int64_t imageBytesOnDevice(const partinfo &pt, FILE *fp, int64_t fileSize);
    // Records the image the writer just put on `device` and, with
    // verification on, reads it back (imageverification.cpp).
    bool finishImage(const QString &image, const QString &partition, const char *device, int64_t fileSize,
                     int fileCount, int fileIndex);
    // The failed writer's message, with the cause when the image was at fault.
    bool failWrite(const QString &message);

    // Raw-image flow (rawimageflow.cpp).
    bool runRawImageFlow();

    // Stages that only some installs take (optionalstages.cpp; the overlay
    // rebuild in overlaystage.cpp, firmware packages in
    // firmwarepackagestage.cpp).
    bool needsOverlayRebuild() const;
    bool rebuildOverlay();
    bool needsParameterRewrite() const;
    bool rewriteParameterFiles();
    bool unpackFirmwarePackage();
    bool writeUfsLoader();
    bool finishRocknix();

    // Takes the job's one error (the cancel message once a cancel was
    // requested) and returns false, so that a stage can `return fail(...)`.
    // run() posts it as the error event once the device is released and the
    // record written.
    bool fail(const QString &message);
    bool failIfCancelled();
    // Posts a progress event unless it repeats the last one exactly (the
    // copy and the stage both report 100 % at the end of a file).
    void reportProgress(const QString &imageName, const QString &partitionName, int percent,
                        int fileCount, int fileIndex);
    bool isRawImageSet() const;
    bool isAndroidLike() const;

    OSConfig m_config;
    TargetDevice m_bootDevice;
    TargetDevice m_systemDevice;
    bool m_lowFormat = false;
    bool m_overlayfsDisabled = false;
    bool m_verifyAfterWrite = false;
    std::atomic<bool> m_cancelled{false};
    QStringList m_excludedFiles;
    QObject *m_receiver = nullptr;
    std::function<void(int, int)> m_progressObserver;

    // State of one run.
    DevicePlan m_plans[2];
    QString m_rawImagePath;
    QString m_tmpDir;
    std::unique_ptr<UfsBootPlan> m_ufsPlan;
    bool m_isRockchipUfs = false;
    bool m_useRawFlow = false;
    bool m_failed = false;
    bool m_failedOnCancel = false;
    QString m_errorText;
    std::unique_ptr<JobReport> m_report;
    int m_lastFileIndex = -1;
    int m_lastPercent = -1;
    QList<WrittenImage> m_writtenImages;
};
