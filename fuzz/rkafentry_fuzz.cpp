// Fuzzes the entry table of the RKAF update image: the input supplies the
// entry count, the 112-byte entries and the data, and the fuzzer wraps them
// in a header with a correct CRC so that every input reaches the entry
// checks and the extraction. A package is unpacked whole or refused whole:
// nothing may be created outside the output directory, and nothing at all
// when the package is refused for a bad entry.
#include "storage/rkimage.h"
#include "storage/rkparm.h"

#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

std::string g_base;

void remove_base()
{
    remove_directory(g_base.c_str());
}

// Entries of a directory other than "." and "..".
int entries(const std::string &dir)
{
    DIR *d = opendir(dir.c_str());
    if (!d)
        return 0;
    int n = 0;
    while (dirent *e = readdir(d))
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
            n++;
    closedir(d);
    return n;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    setenv("IMGSMITH_ROOT", "/nonexistent-imgsmith-fuzz-root", 1);
    const char *shm = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : getenv("TMPDIR");
    std::string tmpl = std::string(shm && *shm ? shm : "/tmp") + "/rkafentry-fuzz-XXXXXX";
    if (!mkdtemp(&tmpl[0]))
        abort();
    g_base = tmpl;
    atexit(remove_base);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const uint32_t count = data[0] % (RKAF_MAX_ENTRIES + 2);
    data++;
    size--;
    std::vector<uint8_t> pkg(RKAF_HEADER_SIZE, 0);
    rkaf_header h;
    memset(&h, 0, sizeof h);
    memcpy(h.magic, "RKAF", 4);
    h.num_parts = count;
    const size_t table = std::min<size_t>(size, sizeof h.parts);
    memcpy(h.parts, data, table);
    pkg.insert(pkg.end(), data + table, data + size);
    h.length = static_cast<uint32_t>(pkg.size());
    memcpy(pkg.data(), &h, sizeof h);
    const uint32_t crc = crc32_rk(0, pkg.data(), pkg.size());
    for (int i = 0; i < 4; i++)
        pkg.push_back(static_cast<uint8_t>(crc >> (8 * i)));

    const int fd = memfd_create("rkaf", 0);
    if (fd < 0 || write(fd, pkg.data(), pkg.size()) != ssize_t(pkg.size()))
        abort();
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    const std::string out = g_base + "/out";
    std::string why;
    const int ret = unpack_update(path.c_str(), out.c_str(), &why);
    close(fd);

    rkaf_info info;
    bool allGood = rkaf_parse_header(pkg.data(), pkg.size(), &info) == 0;
    for (uint32_t i = 0; allGood && i < info.count; i++)
        allGood = info.items[i].state == RKAF_ITEM_EXTRACT || info.items[i].state == RKAF_ITEM_SELF;
    // Only the output directory may appear below the base.
    if (entries(g_base) > 1 || (entries(g_base) == 1 && access(out.c_str(), F_OK) != 0))
        __builtin_trap();
    if (ret == 0 && !allGood)
        __builtin_trap();
    if (ret != 0 && why.empty())
        __builtin_trap();
    if (!allGood && entries(out) != 0)
        __builtin_trap();
    remove_directory(out.c_str());
    return 0;
}
