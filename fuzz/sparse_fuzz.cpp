// Fuzzes the sparse image reader: header, chunk headers and chunk data
// written into a 1 MiB partition of a 2 MiB target; nothing may be written
// outside the partition.
#include "storage/imagewriter.h"
#include "storage/mmc.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const int target = memfd_create("target", 0);
    static const std::string path = "/proc/self/fd/" + std::to_string(target);
    constexpr int64_t PART = 1 << 20, OFFSET = 512 * 1024;
    const std::vector<uint8_t> guard(2 * PART, 0xA5);
    if (ftruncate(target, 0) != 0 || pwrite(target, guard.data(), guard.size(), 0) != ssize_t(guard.size()))
        return 0;
    BUFFER_SIZE = 64 * 1024;
    // The gzip and sparse readers need a descriptor: a temporary file.
    FILE *img = tmpfile();
    if (!img || fwrite(data, 1, size, img) != size || fseek(img, 0, SEEK_SET) != 0)
        return 0;
    if (mmc_open(path.c_str()) >= 0) {
        write_image(path.c_str(), OFFSET, PART, img, int64_t(size), "f", "p", 1, 1);
        mmc_release();
    }
    fclose(img);
    std::vector<uint8_t> after(2 * PART);
    if (pread(target, after.data(), after.size(), 0) != ssize_t(after.size()))
        __builtin_trap();
    if (memcmp(after.data(), guard.data(), OFFSET) != 0 ||
        memcmp(after.data() + OFFSET + PART, guard.data(), PART - OFFSET) != 0)
        __builtin_trap();
    return 0;
}
