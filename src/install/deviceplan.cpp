#include "install/deviceplan.h"

#include <cstring>
#include <vector>
#include <strings.h>

#include "install/partmapline.h"
#include "storage/rkparm.h"
#include "util/log2file.h"

namespace {

// Room for Rockchip lists longer than a plan holds, so that they get the
// "too many" answer rather than a generic parse error.
constexpr int RK_SCRATCH_PARTS = 128;

bool contains(const char *text, const char *needle)
{
    return strstr(text, needle) != nullptr;
}

// Reads one line of at most PARTMAP_LINE_LEN - 1 bytes; the rest of a longer
// line is discarded so that its tail is never taken for a line of its own.
bool read_line(FILE *fp, char *buf, size_t size)
{
    if (!fgets(buf, static_cast<int>(size), fp))
        return false;
    size_t len = strlen(buf);
    if (len > 0 && buf[len - 1] != '\n' && !feof(fp)) {
        int c;
        while ((c = fgetc(fp)) != EOF && c != '\n') {
        }
    }
    return true;
}

int parse_rockchip_line(DevicePlan *plan, const char *line, const char *imageDir)
{
    std::vector<partinfo> scratch(RK_SCRATCH_PARTS);
    int n = rkparm_part_parse(line, scratch.data(), imageDir, plan->tableKind,
                              plan->paramSource[0] ? plan->paramSource : nullptr, RK_SCRATCH_PARTS);
    if (n < 0)
        return DEVICE_PLAN_INVALID;
    if (n > DEVICE_PLAN_MAX_PARTS)
        return DEVICE_PLAN_TOO_MANY;
    memcpy(plan->map_parts, scratch.data(), sizeof(partinfo) * static_cast<size_t>(n));
    return n;
}

// Adds one partmap line as the next partition. Returns the new count or a
// negative DEVICE_PLAN_* result.
int add_partmap_line(DevicePlan *plan, const partmap_line &pl, const char *imageDir, int count)
{
    if (count >= DEVICE_PLAN_MAX_PARTS)
        return DEVICE_PLAN_TOO_MANY;
    partinfo *pt = &plan->map_parts[count];
    memset(pt, 0, sizeof(*pt));
    pt->start = static_cast<int64_t>(pl.startBytes / 512);
    pt->size = static_cast<int64_t>(pl.sizeBytes / 512);
    pt->fs_type = static_cast<int32_t>(partmap_type_code(pl.type));
    pt->index = count;
    if (pt->start < 0 || pt->size < 0)
        return DEVICE_PLAN_INVALID;
    if (pt->fs_type & PARTMAP_MBR_MASK) {
        if (plan->mbrCount >= MBR_MAX_PARTITIONS)
            return DEVICE_PLAN_TOO_MANY_MBR;
        // The MBR builder takes 32-bit sector counts.
        if (pt->start > INT32_MAX || pt->size > INT32_MAX)
            return DEVICE_PLAN_INVALID;
        pt->in_mbr = 1;
        plan->mbr[plan->mbrCount].start = static_cast<int32_t>(pt->start);
        plan->mbr[plan->mbrCount].size = static_cast<int32_t>(pt->size);
        plan->mbrCount++;
    }
    if (pl.fields == 8 && pl.file[0]) {
        int w = snprintf(pt->image, sizeof(pt->image), "%s/%s", imageDir, pl.file);
        if (w < 0 || static_cast<size_t>(w) >= sizeof(pt->image))
            return DEVICE_PLAN_INVALID;
    }
    // The name field holds 32 bytes and needs no terminator when full.
    memcpy(pt->name, pl.name, strnlen(pl.name, sizeof(pt->name)));
    log2file("part.%d %s=%s,%s:%s:%s:0x%llx,0x%llx:%s:[%s] %s\n", count, pl.field1, pl.field2,
             pl.field3, pl.name, pl.type, static_cast<unsigned long long>(pl.startBytes),
             static_cast<unsigned long long>(pl.sizeBytes), pl.fields == 8 ? pl.file : "",
             pt->in_mbr ? "MBR" : "RAW", pt->image);
    return count + 1;
}

} // namespace

void device_plan_reset(DevicePlan *plan)
{
    memset(plan, 0, sizeof(*plan));
    plan->tableKind = TABLE_KIND_MBR;
    plan->sectorSize = 512;
}

bool device_plan_has_device(const DevicePlan *plan)
{
    return plan->devicePath[0] && strcasecmp(plan->devicePath, "/dev/null") != 0;
}

int device_plan_parse(DevicePlan *plan, FILE *map, const DevicePlanOptions &options)
{
    const char *imageDir = plan->imageDir;
    log2file("parsing %s:\n", plan->mapFile);
    memset(plan->map_parts, 0, sizeof(plan->map_parts));
    plan->mbrCount = 0;
    int count = 0;
    std::vector<char> buf(PARTMAP_LINE_LEN);
    char *line = buf.data();
    while (count >= 0 && read_line(map, line, buf.size())) {
        if (line[0] == '#')
            continue;
        if (contains(line, "MANUFACTURER:") && contains(line, "RK")) {
            plan->tableKind = TABLE_KIND_EMPTY_GPT;
        } else if (contains(line, "TYPE:") && contains(line, "GPT")) {
            plan->tableKind = TABLE_KIND_GPT;
        } else if (contains(line, "CMDLINE:") && contains(line, "mtdparts")) {
            // Partmap lines and MBR pairs before a Rockchip list do not
            // survive it: the list replaces the whole layout.
            plan->mbrCount = 0;
            count = parse_rockchip_line(plan, line, imageDir);
            if (plan->tableKind != TABLE_KIND_GPT)
                plan->tableKind = TABLE_KIND_EMPTY_GPT;
        } else if (contains(line, "uuid:") && count > 0) {
            rkparm_uuid_parse(strstr(line, "uuid:") + 5, plan->map_parts, count);
        } else {
            partmap_line pl;
            int fields = partmap_parse_line(line, &pl);
            if (fields < 0) {
                log2file("invalid start or size: %s", line);
                count = DEVICE_PLAN_INVALID;
                break;
            }
            if (fields < 7)
                continue;
            if (options.dropUserdata &&
                (strcmp(pl.name, "userdata") == 0 || (fields == 8 && strcmp(pl.file, "userdata.img") == 0))) {
                log2file("overlay file system disabled, %s not created\n", pl.name);
                continue;
            }
            count = add_partmap_line(plan, pl, imageDir, count);
        }
    }
    if (count >= 0 && ferror(map))
        count = DEVICE_PLAN_INVALID;
    plan->partCount = count;
    return count;
}

int64_t device_plan_part_sectors(const DevicePlan *plan, int i)
{
    const partinfo &pt = plan->map_parts[i];
    if (pt.size != 0)
        return pt.size;
    return plan->capacity > pt.start ? plan->capacity - pt.start : 0;
}

std::string device_plan_check_fits(const DevicePlan *plan)
{
    char msg[512];
    for (int i = 0; i < plan->partCount; ++i) {
        const partinfo &pt = plan->map_parts[i];
        bool fits = pt.start >= 0 && pt.size >= 0 && pt.start < plan->capacity &&
                    pt.size <= plan->capacity - pt.start;
        // A GPT layout may leave start 0 to follow the previous partition;
        // the GPT builder checks those against the usable area itself.
        if (plan->tableKind == TABLE_KIND_GPT && pt.start == 0 && !(pt.fs_type & (RK_FSTYPE_IDB | RK_FSTYPE_PARM)))
            fits = true;
        if (!fits) {
            snprintf(msg, sizeof(msg), "partition %s (start %lld, %lld sectors) lies beyond the end of %s (%lld sectors)",
                     pt.name, static_cast<long long>(pt.start), static_cast<long long>(pt.size),
                     plan->devicePath, static_cast<long long>(plan->capacity));
            return msg;
        }
    }
    return std::string();
}
