#include "install/sdupdatethread.h"

#include <QFileInfo>

#include "install/installevents.h"
#include "install/ufsinstallstages.h"
#include "storage/backup_manifest.h"
#include "storage/imagewriter.h"
#include "storage/mmc.h"
#include "storage/write_verify.h"
#include "util/log2file.h"
#include "util/qpaths.h"

SDUpdateThread::SDUpdateThread(const OSConfig &config, const TargetDevice &bootDevice,
                               const TargetDevice &systemDevice, QObject *parent)
    : QThread(parent), m_config(config), m_bootDevice(bootDevice), m_systemDevice(systemDevice)
{
    device_plan_reset(&m_plans[0]);
    device_plan_reset(&m_plans[1]);
}

// Out of line: UfsBootPlan is complete only here.
SDUpdateThread::~SDUpdateThread()
{
    // A job still running holds the device: let it stop on its own.
    if (isRunning()) {
        cancel();
        wait();
    }
}

void SDUpdateThread::updateDeviceChanged(const TargetDevice &bootDevice, const TargetDevice &systemDevice)
{
    if (isRunning())
        return;
    m_bootDevice = bootDevice;
    m_systemDevice = systemDevice;
}

void SDUpdateThread::cancel()
{
    m_cancelled.store(true);
}

// The install as the list of its stages. Each stage posts its own error and
// returns false; the clean-up runs on every path so the device is always
// released and the temporary directory removed.
void SDUpdateThread::run()
{
    m_failed = false;
    m_failedOnCancel = false;
    m_errorText.clear();
    m_report.reset(new JobReport(QStringLiteral("install")));
    m_useRawFlow = false;
    m_isRockchipUfs = false;
    m_rawImagePath.clear();
    m_tmpDir.clear();
    m_lastFileIndex = -1;
    m_lastPercent = -1;
    device_plan_reset(&m_plans[0]);
    device_plan_reset(&m_plans[1]);
    m_writtenImages.clear();
    stream_set_verify(m_verifyAfterWrite);
    if (m_receiver)
        setInstallEventReceiver(m_receiver);
    stream_set_cancel_flag(&m_cancelled);

    bool ok = prepare()
        && prepareUfsLoader()
        && checkInputFiles()
        && bringUpUfs()
        && checkDevices()
        && classifyRawImage()
        && validateInputs()
        && lowFormatDevices()
        && (m_useRawFlow ? runRawImageFlow() : runPartitionMapFlow())
        && writeUfsLoader()
        && finishRocknix()
        && !failIfCancelled();

    cleanUp();
    stream_set_cancel_flag(nullptr);
    stream_set_verify(false);
    // The sinks point into this object, which may be gone before the next job.
    gui_setup_progress_report_function("", nullptr, nullptr);
    // Before the final event, so a front-end that reboots or quits on it
    // (and, quitting, cancels the job) finds the record already on the medium.
    writeReport(ok && !m_failed);
    if (m_failed)
        postErrorMessage(m_errorText);
    if (!ok || m_failed)
        return;
    postFinishMessage(m_bootDevice, m_systemDevice);
    log2file(" : done.\n");
    log2file("all done.\n");
}

void SDUpdateThread::writeReport(bool ok)
{
    const QString set = isRawImageSet() ? m_config.imagePath + "/" + m_config.os_raw_img : m_config.imagePath;
    m_report->setImageSet(set, JobReport::kindName(m_config.osType));
    // A back-up carries its manifest; installing it is a restore.
    if (isRawImageSet() && QFileInfo::exists(sysPath(QString::fromStdString(backup_manifest_path(set.toStdString())))))
        m_report->setOperation(QStringLiteral("restore"));
    if (!m_bootDevice.isNone())
        m_report->addDevice(QStringLiteral("boot"), m_bootDevice);
    if (!m_systemDevice.isNone() && m_systemDevice.devName != m_bootDevice.devName)
        m_report->addDevice(QStringLiteral("system"), m_systemDevice);
    for (const WrittenImage &w : m_writtenImages)
        m_report->addImage(w.image, w.partition, w.bytes, w.hash);
    m_report->setLowFormat(m_lowFormat);
    m_report->finish(ok ? JobReport::Ok : m_failedOnCancel ? JobReport::Cancelled : JobReport::Failed, m_errorText);
    m_report->appendToMediumOf(set);
}

bool SDUpdateThread::fail(const QString &message)
{
    if (m_failed)
        return false;
    m_failed = true;
    // A cancel that comes later (a front-end quitting during the clean-up)
    // does not change how the job ended.
    m_failedOnCancel = isCancelled();
    m_errorText = m_failedOnCancel ? QStringLiteral("The install was cancelled.") : message;
    log2file("error: %s\n", m_errorText.toLocal8Bit().constData());
    return false;
}

void SDUpdateThread::reportProgress(const QString &imageName, const QString &partitionName, int percent,
                                    int fileCount, int fileIndex)
{
    if (fileIndex == m_lastFileIndex && percent == m_lastPercent)
        return;
    m_lastFileIndex = fileIndex;
    m_lastPercent = percent;
    if (m_progressObserver)
        m_progressObserver(fileIndex, percent);
    postProgressMessage(false, imageName, partitionName, percent, fileCount, fileIndex);
}

bool SDUpdateThread::failWrite(const QString &message)
{
    const std::string &cause = image_input_error();
    if (cause.empty())
        return fail(message);
    return fail(QStringLiteral("%1 The image is damaged: %2.").arg(message, QString::fromStdString(cause)));
}

bool SDUpdateThread::failIfCancelled()
{
    if (!isCancelled())
        return false;
    fail(QString());
    return true;
}

bool SDUpdateThread::isRawImageSet() const
{
    return m_config.osType == OSType::RawImage;
}

bool SDUpdateThread::isAndroidLike() const
{
    return m_config.osType == OSType::Android || m_config.osType == OSType::OpenHarmony
        || m_config.osType == OSType::RawImage;
}
