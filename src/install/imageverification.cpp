// After each image: what it put on the device, read back and compared when
// verification is on.
#include "install/sdupdatethread.h"

#include <QElapsedTimer>

#include "install/installevents.h"
#include "storage/mmc.h"
#include "storage/write_verify.h"
#include "util/log2file.h"

namespace {

QString readBackFailure(const QString &image, const QString &partition, int rc, int64_t bad)
{
    if (rc == WRITE_VERIFY_MISMATCH)
        return QStringLiteral("Verification failed: %1 (partition %2) differs from what was written at device offset %3.")
            .arg(image, partition)
            .arg(bad);
    return QStringLiteral("Verification failed: %1 (partition %2) cannot be read back, ret = %3.")
        .arg(image, partition)
        .arg(rc);
}

} // namespace

QString verifyWrittenLoader(const char *device, const QString &name, const QString &partition)
{
    const written_summary written = stream_written_summary();
    int rc = 0;
    int64_t bad = -1;
    if (written.hashed && written.bytes > 0)
        rc = write_verify_readback(device, nullptr, &bad);
    stream_written_clear();
    // A cancel seen here ends the job at its next check, as after a write.
    if (rc == 0 || rc == MMC_COPY_CANCELLED)
        return QString();
    return readBackFailure(name, partition, rc, bad);
}

bool SDUpdateThread::finishImage(const QString &image, const QString &partition, const char *device,
                                 int64_t fileSize, int fileCount, int fileIndex)
{
    const written_summary written = stream_written_summary();
    // Whatever the outcome, the next image starts from nothing.
    struct clear_on_exit
    {
        ~clear_on_exit() { stream_written_clear(); }
    } clear;
    WrittenImage w;
    // An image unpacked from a firmware package is listed by its place in
    // the package: the unpacked copy is removed when the job ends.
    const QString unpacked = m_tmpDir + QLatin1Char('/');
    w.image = !m_tmpDir.isEmpty() && image.startsWith(unpacked)
        ? m_rawImagePath + QLatin1Char('/') + image.mid(unpacked.size())
        : image;
    w.partition = partition;
    // Loaders written in several copies (Rockchip IDB, parameter block) are
    // listed with their file's size, and without a hash: what was read back
    // is the copies, not the file.
    w.bytes = written.bytes > 0 && !written.copies ? written.bytes : fileSize;
    if (m_verifyAfterWrite && written.hashed && written.bytes > 0) {
        int shown = 0;
        postVerifyProgressMessage(image, partition, 0, fileCount, fileIndex);
        int64_t bad = -1;
        // Like the copy: each whole percent is one progress event and one
        // speed event, the speed measured from the start of the read-back.
        QElapsedTimer clock;
        clock.start();
        const int rc = write_verify_readback(device, [&](int percent, int64_t done, int64_t total) {
            if (percent == shown)
                return;
            postVerifyProgressMessage(image, partition, shown = percent, fileCount, fileIndex);
            postSpeedMessage(image, partition, done, total, clock.nsecsElapsed() / 1e6);
        }, &bad);
        if (rc == MMC_COPY_CANCELLED)
            return !failIfCancelled();
        if (rc < 0)
            return fail(readBackFailure(image, partition, rc, bad));
        if (!written.copies)
            w.hash = QStringLiteral("%1").arg(stream_written_summary().hash, 16, 16, QLatin1Char('0'));
        log2file("verified %s (%s): %lld bytes, xxh3 %s\n", qPrintable(image), qPrintable(partition),
                 static_cast<long long>(w.bytes), qPrintable(w.hash));
    }
    m_writtenImages.append(w);
    return true;
}
