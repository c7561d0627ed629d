// Fuzzes the RKFW and RKAF header parsers and the RKAF unpacker, and checks
// that no entry the parser lets through could leave the output directory
// or read past the CRC-covered bytes.
#include "storage/rkimage.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

std::string g_outDir;

void remove_out_dir()
{
    remove_directory(g_outDir.c_str());
}

void check_rkaf(const uint8_t *data, size_t size)
{
    rkaf_info info;
    const int r = rkaf_parse_header(data, size, &info);
    if (r != 0)
        return;
    if (info.count > RKAF_MAX_ENTRIES)
        __builtin_trap();
    for (uint32_t i = 0; i < info.count; i++) {
        const rkaf_item &it = info.items[i];
        if (it.state != RKAF_ITEM_EXTRACT)
            continue;
        if (!rkaf_file_name_is_safe(it.file) || it.offset + it.size > info.length)
            __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    rkfw_info fw;
    if (rkfw_parse_header(data, size, &fw) == 0 && fw.digest_offset != fw.payload_offset + fw.payload_length)
        __builtin_trap();
    check_rkaf(data, size);

    if (g_outDir.empty()) {
        const char *base = getenv("TMPDIR");
        std::string tmpl = std::string(base && *base ? base : "/tmp") + "/rkpackage-fuzz-XXXXXX";
        if (!mkdtemp(&tmpl[0]))
            abort();
        g_outDir = tmpl;
        atexit(remove_out_dir);
    }
    const int fd = memfd_create("rkaf", 0);
    if (fd < 0)
        abort();
    if (write(fd, data, size) != static_cast<ssize_t>(size))
        abort();
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    const std::string out = g_outDir + "/out";
    unpack_update(path.c_str(), out.c_str());
    remove_directory(out.c_str());
    close(fd);
    return 0;
}
