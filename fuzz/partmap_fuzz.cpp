// Fuzzes the partition map reader: lines of the partmap.txt format, the
// Rockchip CMDLINE and uuid lines among them, read from an in-memory file.
// The plan must never hold more partitions than it has room for, every
// text it holds must be terminated, and a map with a NUL byte in a line
// must not lose the line after it.
#include "install/deviceplan.h"
#include "install/partmapline.h"

#include <cstdlib>
#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    setenv("IMGSMITH_ROOT", "/nonexistent-imgsmith-fuzz-root", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // One line on its own through the line parser.
    std::string line(reinterpret_cast<const char *>(data), size);
    static std::unique_ptr<partmap_line> pl(new partmap_line);
    const int fields = partmap_parse_line(line.c_str(), pl.get());
    if (fields > 8 || !memchr(pl->name, 0, sizeof pl->name) || !memchr(pl->file, 0, sizeof pl->file))
        __builtin_trap();
    // No line ending survives at the end of a name or file.
    const size_t fileLen = strlen(pl->file), nameLen = strlen(pl->name);
    if ((fileLen && strchr("\r\n", pl->file[fileLen - 1])) || (nameLen && strchr("\r\n", pl->name[nameLen - 1])))
        __builtin_trap();

    // The whole input as a map file.
    FILE *map = fmemopen(const_cast<uint8_t *>(data), size, "r");
    if (!map)
        return 0;
    // One plan for every input: it is reset before each parse.
    static std::unique_ptr<DevicePlan> plan(new DevicePlan);
    device_plan_reset(plan.get());
    snprintf(plan->devicePath, sizeof plan->devicePath, "/dev/mmcblk2");
    snprintf(plan->mapFile, sizeof plan->mapFile, "partmap.txt");
    snprintf(plan->imageDir, sizeof plan->imageDir, "/nonexistent-set");
    plan->capacity = 1 << 21;
    std::string why;
    const int n = device_plan_parse(plan.get(), map, DevicePlanOptions(), &why);
    fclose(map);
    if (n > DEVICE_PLAN_MAX_PARTS || plan->mbrCount > MBR_MAX_PARTITIONS || plan->mbrCount > (n < 0 ? 32 : n))
        __builtin_trap();
    if (n < 0 && why.empty())
        __builtin_trap();
    for (int i = 0; i < n; i++) {
        const partinfo &p = plan->map_parts[i];
        if (!memchr(p.image, 0, sizeof p.image) || !memchr(p.uuid, 0, sizeof p.uuid))
            __builtin_trap();
    }
    if (n >= 0) {
        device_plan_check_fits(plan.get());
        device_plan_check_layout(plan.get());
    }
    return 0;
}
