// The raw-image flow: one disk image (raw, Android sparse, or compressed
// with gzip, xz or zstd) copied to the start of the boot device.
#include "install/sdupdatethread.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

#include "install/installevents.h"
#include "storage/imagewriter.h"
#include "storage/mmc.h"
#include "storage/parttable.h"
#include "util/log2file.h"
#include "util/qpaths.h"

namespace {

// Closes the image on every way out of the flow.
struct file_closer
{
    FILE *fp = nullptr;
    ~file_closer()
    {
        if (fp)
            fclose(fp);
    }
};

} // namespace

bool SDUpdateThread::runRawImageFlow()
{
    DevicePlan &plan = m_plans[0];
    const char *dev = plan.devicePath;
    const QString image = m_rawImagePath;
    const QByteArray imageArg = image.toLocal8Bit();
    reportProgress(image, QStringLiteral("root"), 0, 1, 1);

    if (!device_plan_has_device(&plan))
        return fail(QStringLiteral("Fail to call mmc_open on %1.").arg(dev));

    // validateInputs() checked the image (size, sparse chunks, back-up
    // manifest) before any device was touched; it is opened and measured again here because the
    // empty GPT below must never precede a failed open.
    log2file("copy from: %s to %s\n", imageArg.constData(), dev);
    file_closer file;
    int err = 0;
    file.fp = open_input_file(sysPath(image).toLocal8Bit().constData(), &err);
    if (!file.fp) {
        log2file("fail open %s, ret = %s\n", imageArg.constData(), strerror(err));
        return fail(QStringLiteral("Fail to open file: %1, errno: %2.").arg(image, QString::fromLocal8Bit(strerror(err))));
    }
    struct stat st;
    if (fstat(fileno(file.fp), &st) != 0 || st.st_size <= 0)
        return fail(QStringLiteral("Cannot get file size: %1.").arg(image));
    const int64_t fileSize = st.st_size;
    const int64_t deviceBytes = plan.capacity * 512;
    if (fileSize > deviceBytes)
        return fail(QStringLiteral("File too big: %1.").arg(image));

    if (mmc_open(dev) < 0)
        return fail(QStringLiteral("Fail to call mmc_open on %1.").arg(dev));

    // An old backup GPT at the end of the device would outlive an image that
    // does not reach it and make tools "repair" the primary from it.
    log2file("cleanup (backup) GPT:\n");
    int ret = gpt_part_table_make(dev, plan.capacity, plan.sectorSize, plan.map_parts, 0, mmc_write);
    if (ret != 0)
        return fail(QStringLiteral("Fail to create empty GPT, ret = %1.").arg(ret));
    if (failIfCancelled())
        return false;

    const image_compression kind = image_compression_of(imageArg.constData());
    if (kind != IMAGE_RAW) {
        ret = write_raw_compressed(kind, dev, 0, deviceBytes, file.fp, fileSize, imageArg.constData(), "root", 1, 1);
        if (ret == -EFBIG)
            return fail(QStringLiteral("File too big: %1.").arg(image));
    } else {
        ret = write_image(dev, 0, deviceBytes, file.fp, fileSize, imageArg.constData(), "root", 1, 1);
        if (ret == -ENOMEM)
            return fail(QStringLiteral("File too big: %1.").arg(image));
    }
    if (ret < 0)
        return failWrite(QStringLiteral("Failed to write image file: %1, retcode: %2.").arg(image).arg(ret));

    reportProgress(image, QStringLiteral("root"), 100, 1, 1);
    if (!finishImage(image, QStringLiteral("root"), dev, fileSize, 1, 1))
        return false;
    int rr = mmc_rrpart(dev);
    if (rr < 0)
        log2file("re-reading the partition table of %s failed (%d)\n", dev, rr);
    return true;
}
