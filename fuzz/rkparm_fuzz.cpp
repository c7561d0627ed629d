// Fuzzes the parameter text parser and the "uuid:" line parser.
#include "storage/rkparm.h"

#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    // Guard records on both sides catch a write past the capacity.
    std::vector<partinfo> parts(RKPARM_MAX_PARTS + 2);
    std::vector<partinfo> before = parts;
    for (int mode : {RKPARM_MODE_GPT, 6}) {
        const int n = rkparm_part_parse(text.c_str(), parts.data() + 1, "/nonexistent-dir", mode, "", 8);
        if (n > 8 || memcmp(&parts[0], &before[0], sizeof(partinfo)) != 0 ||
            memcmp(&parts[9], &before[9], sizeof(partinfo)) != 0)
            __builtin_trap();
        for (int i = 1; i < n; i++) {
            const partinfo &p = parts[1 + i];
            if (memchr(p.image, 0, sizeof p.image) == nullptr || memchr(p.uuid, 0, sizeof p.uuid) == nullptr)
                __builtin_trap();
        }
        if (n > 0)
            rkparm_uuid_parse(text.c_str(), parts.data() + 1, n);
    }
    return 0;
}
