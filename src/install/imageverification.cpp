// After each image: what it put on the device, read back and compared when
// verification is on.
#include "install/sdupdatethread.h"

#include "install/installevents.h"
#include "storage/mmc.h"
#include "storage/write_verify.h"
#include "util/log2file.h"

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
    w.image = image;
    w.partition = partition;
    // Loaders written in several copies outside the copy stream (Rockchip
    // IDB, parameter block) record nothing: their file size stands in.
    w.bytes = written.bytes > 0 ? written.bytes : fileSize;
    if (m_verifyAfterWrite && written.hashed && written.bytes > 0) {
        int shown = 0;
        postVerifyProgressMessage(image, partition, 0, fileCount, fileIndex);
        int64_t bad = -1;
        const int rc = write_verify_readback(device, [&](int percent) {
            if (percent != shown)
                postVerifyProgressMessage(image, partition, shown = percent, fileCount, fileIndex);
        }, &bad);
        if (rc == MMC_COPY_CANCELLED)
            return !failIfCancelled();
        if (rc == WRITE_VERIFY_MISMATCH)
            return fail(QStringLiteral("Verification failed: %1 (partition %2) differs from what was written at "
                                       "device offset %3.")
                            .arg(image, partition).arg(bad));
        if (rc < 0)
            return fail(QStringLiteral("Verification failed: %1 (partition %2) cannot be read back, ret = %3.")
                            .arg(image, partition).arg(rc));
        w.hash = QStringLiteral("%1").arg(written.hash, 16, 16, QLatin1Char('0'));
        log2file("verified %s (%s): %lld bytes, xxh3 %s\n", qPrintable(image), qPrintable(partition),
                 static_cast<long long>(w.bytes), qPrintable(w.hash));
    }
    m_writtenImages.append(w);
    return true;
}
