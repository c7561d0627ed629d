#include "backup/onboardflashbackupandrestorethread.h"

#include <QCoreApplication>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "backup/dffreespace.h"
#include "backup/onboardflashbackupandrestorefinishthreadevent.h"
#include "backup/onboardflashbackupandrestorespeedevent.h"
#include "backup/onboardflashbackupandrestorethreadevent.h"
#include "board/boardhardwareinfo.h"
#include "board/targetdevice.h"
#include "imageset/osconfig.h"
#include "startup/globals.h"
#include "storage/backup_manifest.h"
#include "storage/mmc.h"
#include "util/log2file.h"
#include "util/qpaths.h"
#include "util/util.h"

int OnboardFlashBackupAndRestoreThread::currentAction = -1;

OnboardFlashBackupAndRestoreThread::OnboardFlashBackupAndRestoreThread(QObject *parent) : QThread(parent) {}

OnboardFlashBackupAndRestoreThread::~OnboardFlashBackupAndRestoreThread()
{
    // The thread holds the device and the image: let it stop on its own.
    if (isRunning()) {
        cancel();
        wait();
    }
}

void OnboardFlashBackupAndRestoreThread::startJob()
{
    m_cancelled.store(false);
    start();
}

void OnboardFlashBackupAndRestoreThread::post(QEvent *event)
{
    if (m_receiver)
        QCoreApplication::postEvent(m_receiver, event);
    else
        delete event;
}

void OnboardFlashBackupAndRestoreThread::postOnboardFlashBRErrorMessage(const QString &message)
{
    post(new OnboardFlashBackupAndRestoreThreadEvent(0, 0, true, message));
}

bool OnboardFlashBackupAndRestoreThread::fail(const QString &message)
{
    log2file("error: %s\n", message.toLocal8Bit().constData());
    m_lastError = message;
    return false;
}

void OnboardFlashBackupAndRestoreThread::postOnboardFlashBRProgressMessage(int action, int percent)
{
    if (m_observer)
        m_observer(percent);
    post(new OnboardFlashBackupAndRestoreThreadEvent(action, percent, false, QString()));
}

void OnboardFlashBackupAndRestoreThread::postOnboardFlashBRFinishMessage()
{
    post(new OnboardFlashBackupAndRestoreFinishThreadEvent());
}

void OnboardFlashBackupAndRestoreThread::postProgressMessage2(bool isErasing, const QString &imageName,
                                                              const QString &partitionName, int percent,
                                                              int fileCount, int fileIndex)
{
    Q_UNUSED(isErasing);
    Q_UNUSED(imageName);
    Q_UNUSED(partitionName);
    Q_UNUSED(fileCount);
    Q_UNUSED(fileIndex);
    postOnboardFlashBRProgressMessage(currentAction, percent);
}

void OnboardFlashBackupAndRestoreThread::postSpeedMessage2(const QString &imageName, const QString &partitionName,
                                                           qint64 bytesDone, qint64 bytesTotal, double elapsedMs)
{
    Q_UNUSED(imageName);
    Q_UNUSED(partitionName);
    post(new OnboardFlashBackupAndRestoreSpeedEvent(bytesTotal, bytesDone, elapsedMs));
}

// The stages of one run; each takes its error with fail() and returns false.
void OnboardFlashBackupAndRestoreThread::run()
{
    gui_setup_progress_report_function(
        "onboardflash_bg_thread",
        [this](bool erasing, const std::string &image, const std::string &part, int percent, int count, int index) {
            postProgressMessage2(erasing, QString::fromStdString(image), QString::fromStdString(part), percent,
                                 count, index);
        },
        [this](const std::string &image, const std::string &part, int64_t done, int64_t total, double ms) {
            postSpeedMessage2(QString::fromStdString(image), QString::fromStdString(part), done, total, ms);
        });
    stream_set_cancel_flag(&m_cancelled);
    m_lastError.clear();
    m_report.reset(new JobReport(QStringLiteral("backup")));

    const QString device = QStringLiteral("/dev/") +
        (gCurrentBoardInfo ? gCurrentBoardInfo->getOnboardFlashDevName() : QString());
    qint64 sectors = 0;
    bool done = false;
    if ((currentAction != 1 || checkFreeSpace()) && measureDevice(device, &sectors)) {
        const QByteArray dev = device.toLocal8Bit();
        if (mmc_open(dev.constData()) < 0) {
            fail(QStringLiteral("Fail to call mmc_open on %1.").arg(device));
        } else {
            done = currentAction == 1 && backUp(device, sectors);
            mmc_release();
        }
    }
    if (currentAction == 1)
        writeReport(device, sectors * 512, done);
    // After the record, so a front-end acting on the event (quitting, which
    // cancels the job) finds it there.
    if (!m_lastError.isEmpty())
        postOnboardFlashBRErrorMessage(m_lastError);
    else if (done)
        postOnboardFlashBRFinishMessage();

    stream_set_cancel_flag(nullptr);
    // The sinks point into this object, which may be gone before the next job.
    gui_setup_progress_report_function("", nullptr, nullptr);
}

void OnboardFlashBackupAndRestoreThread::writeReport(const QString &device, qint64 bytes, bool done)
{
    m_report->setImageSet(m_imageFilePath, JobReport::kindName(RawImage));
    const bool ufs = gCurrentBoardInfo && gCurrentBoardInfo->isOnboardUFS();
    m_report->addDevice(QStringLiteral("source"),
                        TargetDevice(ufs ? TargetDeviceUFS : TargetDeviceEMMC, device.mid(int(strlen("/dev/")))),
                        bytes);
    m_report->finish(done ? JobReport::Ok
                     : m_lastError.isEmpty() && isCancelled() ? JobReport::Cancelled
                                                              : JobReport::Failed,
                     m_lastError);
    m_report->appendToMediumOf(m_imageFilePath);
}

bool OnboardFlashBackupAndRestoreThread::checkFreeSpace()
{
    const bool usb = m_mediaKind == 2;
    if (!usb && m_mediaKind != 1)
        return true;
    QString partition;
    if (gCurrentBoardInfo)
        partition = usb ? gCurrentBoardInfo->getUdiskPartitionName()
                        : gCurrentBoardInfo->getSDCardFatPartitionFullName();
    const QString tmpFile = usb ? QStringLiteral("/tmp/udiskfreesize") : QStringLiteral("/tmp/tfcardfreesize");
    qint64 freeKiB = 0;
    // Output that is not one number (df missing, several matching lines)
    // tells nothing about the space: the copy goes ahead.
    if (!readDfFreeSpaceKiB(partition, tmpFile, &freeKiB) || freeKiB >= gOnboardFlashSize)
        return true;
    const QString need = Util::size_human(gOnboardFlashSize * 1024);
    return fail(usb ? QStringLiteral("There is not enough free disk space on your removable disk, it requires at "
                                     "least %1 of free disk space. ").arg(need)
                    : QStringLiteral("There is not enough free disk space on your tf card, it requires at least %1 "
                                     "of free disk space. ").arg(need));
}

bool OnboardFlashBackupAndRestoreThread::measureDevice(const QString &device, qint64 *sectors)
{
    const QByteArray dev = device.toLocal8Bit();
    if (file_test(dev.constData()) != 0)
        return fail(QStringLiteral("Fail to open device: %1").arg(device));
    // get_disk_capacity truncates to whole 512-byte sectors and logs a
    // failed open itself.
    *sectors = get_disk_capacity(dev.constData(), nullptr, nullptr);
    if (*sectors <= 0)
        return fail(QStringLiteral("Invalid disk size (%1) %2").arg(*sectors).arg(device));
    return true;
}

bool OnboardFlashBackupAndRestoreThread::backUp(const QString &device, qint64 sectors)
{
    postOnboardFlashBRProgressMessage(1, 0);
    const QString path = m_imageFilePath;
    const QByteArray file = sysPath(path).toLocal8Bit();
    // A manifest left from an earlier back-up of the same name would no
    // longer describe the file about to be written.
    unlink(backup_manifest_path(file.toStdString()).c_str());
    FILE *fp = fopen(file.constData(), "wb");
    if (!fp)
        return fail(QStringLiteral("Failed to create file: %1, errno: %2.").arg(path).arg(errno));
    sha256_digest digest;
    stream_set_read_tap([&digest](const uint8_t *data, size_t length) { digest.update(data, length); });
    const QByteArray dev = device.toLocal8Bit();
    const QByteArray imageName = path.toLocal8Bit();
    const int64_t bytes = sectors * 512;
    int ret = read_raw(dev.constData(), 0, bytes, fp, bytes, imageName.constData(), "root", 1, 1);
    stream_set_read_tap(nullptr);

    if (isCancelled()) {
        fclose(fp);
        // The file is let go of before it is removed; the canceller waits
        // for this thread and finds it gone.
        unlink(file.constData());
        log2file("back-up cancelled, %s removed\n", file.constData());
        return false;
    }
    if (ret >= 0) {
        const QString hex = QString::fromStdString(digest.hex());
        if (!finishImageFile(fp, hex))
            return false;
        m_report->addBackupImage(path, bytes, hex);
        return true;
    }
    fclose(fp);
    return fail(QStringLiteral("Failed to write image file: %1, retcode: %2.").arg(path).arg(ret));
}

// Closes the image so that what it holds is on the medium before success is
// reported (a card pulled after "All done." must hold the whole back-up),
// then writes the manifest. Takes the error and returns false on failure.
bool OnboardFlashBackupAndRestoreThread::finishImageFile(FILE *fp, const QString &digest)
{
    const QString path = m_imageFilePath;
    int ret = 0;
    if (fflush(fp) != 0 || fsync(fileno(fp)) != 0)
        ret = -errno;
    if (fclose(fp) != 0 && ret == 0)
        ret = -errno;
    if (ret == 0 && digest.isEmpty())
        ret = -EIO;
    if (ret == 0)
        ret = backup_manifest_write(sysPath(path).toStdString(), digest.toStdString());
    if (ret != 0)
        return fail(QStringLiteral("Failed to write image file: %1, retcode: %2.").arg(path).arg(ret));
    postOnboardFlashBRProgressMessage(1, 100);
    log2file(" : done.\n");
    return true;
}
