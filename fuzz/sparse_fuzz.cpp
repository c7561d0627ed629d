// Fuzzes the sparse image reader: the pre-write check and the writer, on a
// 128 KiB partition of a 256 KiB in-memory device with 4 KiB copy buffers.
// Nothing may be written outside the partition, and the writer must refuse
// whatever the check refuses.
#include "fuzz_device.h"
#include "storage/imagewriter.h"

#include <sys/stat.h>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    return fuzzdev::init();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static fuzzdev::device dev;
    static fuzzdev::input in;
    FILE *img = in.open(data, size);
    if (!img)
        return 0;
    std::string why;
    const int checked = sparse_image_check(img, int64_t(size), fuzzdev::PART, &why);
    if (fseek(img, 0, SEEK_SET) == 0 && dev.open()) {
        const int ret = write_image(dev.path(), fuzzdev::OFFSET, fuzzdev::PART, img, int64_t(size), "f", "p", 1, 1);
        // A sparse image the check refused must never be written whole.
        if (checked < 0 && checked != -ENOMEM && ret == 0)
            __builtin_trap();
        dev.check();
    }
    fclose(img);
    return 0;
}
