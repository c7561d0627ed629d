// Fuzzes the MBR/EBR chain reader over a disk made of the input bytes: it
// must stop at the array's size and on chains that loop, and never read
// outside what the callback serves.
#include "storage/parttable.h"

#include <algorithm>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const part_read_fn read = [&](const char *, int64_t off, int64_t len, void *buf) -> int64_t {
        if (off < 0 || len < 0)
            __builtin_trap();
        // The input is the start of the disk; the rest reads as zeros up to 2 TiB.
        if (off >= (int64_t(1) << 41))
            return -5;
        memset(buf, 0, size_t(len));
        if (off < int64_t(size))
            memcpy(buf, data + off, std::min<size_t>(size_t(len), size - size_t(off)));
        return len;
    };
    std::vector<mbr_entry> entries(34);
    int count = 0;
    disk_part_table_info("fuzz", 0, 0, entries.data() + 1, &count, 32, read);
    if (count < 0 || count > 32)
        __builtin_trap();
    return 0;
}
