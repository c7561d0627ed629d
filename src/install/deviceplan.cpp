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

// Reads one line of at most size - 1 bytes and returns its real length
// (NUL bytes included), -1 at the end of the file. The rest of a longer line
// is discarded so that its tail is never taken for a line of its own; the
// newline is kept and tells a whole line from a cut one.
long read_line(FILE *fp, char *buf, size_t size)
{
    size_t len = 0;
    int c = EOF;
    while (len + 1 < size && (c = getc(fp)) != EOF) {
        buf[len++] = static_cast<char>(c);
        if (c == '\n')
            break;
    }
    buf[len] = '\0';
    if (len == 0 && c == EOF)
        return -1;
    if (len + 1 == size && buf[len - 1] != '\n') {
        while ((c = getc(fp)) != EOF && c != '\n') {
        }
    }
    return static_cast<long>(len);
}

void set_why(std::string *why, int lineNo, const std::string &text)
{
    if (why && why->empty())
        *why = "line " + std::to_string(lineNo) + ": " + text;
}

int parse_rockchip_line(DevicePlan *plan, const char *line, const char *imageDir, std::string &why)
{
    std::vector<partinfo> scratch(RK_SCRATCH_PARTS);
    int n = rkparm_part_parse(line, scratch.data(), imageDir, plan->tableKind,
                              plan->paramSource[0] ? plan->paramSource : nullptr, RK_SCRATCH_PARTS, &why);
    if (n < 0)
        return DEVICE_PLAN_INVALID;
    if (n > DEVICE_PLAN_MAX_PARTS)
        return DEVICE_PLAN_TOO_MANY;
    memcpy(plan->map_parts, scratch.data(), sizeof(partinfo) * static_cast<size_t>(n));
    return n;
}

// Adds one partmap line as the next partition. Returns the new count or a
// negative DEVICE_PLAN_* result.
int add_partmap_line(DevicePlan *plan, const partmap_line &pl, const char *imageDir, int count, std::string &why)
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
        if (pt->start > INT32_MAX || pt->size > INT32_MAX) {
            why = "start or size does not fit an MBR entry";
            return DEVICE_PLAN_INVALID;
        }
        pt->in_mbr = 1;
        plan->mbr[plan->mbrCount].start = static_cast<int32_t>(pt->start);
        plan->mbr[plan->mbrCount].size = static_cast<int32_t>(pt->size);
        plan->mbrCount++;
    }
    if (pl.fields == 8 && pl.file[0]) {
        int w = snprintf(pt->image, sizeof(pt->image), "%s/%s", imageDir, pl.file);
        if (w < 0 || static_cast<size_t>(w) >= sizeof(pt->image)) {
            why = "image path too long";
            return DEVICE_PLAN_INVALID;
        }
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

int device_plan_parse(DevicePlan *plan, FILE *map, const DevicePlanOptions &options, std::string *why)
{
    const char *imageDir = plan->imageDir;
    log2file("parsing %s:\n", plan->mapFile);
    memset(plan->map_parts, 0, sizeof(plan->map_parts));
    plan->mbrCount = 0;
    int count = 0;
    int lineNo = 0;
    std::string reason;
    std::vector<char> buf(PARTMAP_LINE_LEN);
    char *line = buf.data();
    long len;
    while (count >= 0 && (len = read_line(map, line, buf.size())) >= 0) {
        ++lineNo;
        if (line[0] == '#')
            continue;
        // Text functions would stop at the NUL and read a different line
        // than the one in the file.
        if (memchr(line, '\0', static_cast<size_t>(len))) {
            reason = "a NUL byte in the line";
            count = DEVICE_PLAN_INVALID;
            break;
        }
        if (contains(line, "MANUFACTURER:") && contains(line, "RK")) {
            plan->tableKind = TABLE_KIND_EMPTY_GPT;
        } else if (contains(line, "TYPE:") && contains(line, "GPT")) {
            plan->tableKind = TABLE_KIND_GPT;
        } else if (contains(line, "CMDLINE:") && contains(line, "mtdparts")) {
            // Partmap lines and MBR pairs before a Rockchip list do not
            // survive it: the list replaces the whole layout.
            plan->mbrCount = 0;
            count = parse_rockchip_line(plan, line, imageDir, reason);
            if (plan->tableKind != TABLE_KIND_GPT)
                plan->tableKind = TABLE_KIND_EMPTY_GPT;
        } else if (contains(line, "uuid:") && count > 0) {
            rkparm_uuid_parse(strstr(line, "uuid:") + 5, plan->map_parts, count);
        } else {
            partmap_line pl;
            int fields = partmap_parse_line(line, &pl);
            if (fields < 0) {
                log2file("invalid start or size: %s", line);
                reason = "start or size is not a hexadecimal number";
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
            count = add_partmap_line(plan, pl, imageDir, count, reason);
        }
    }
    if (count < 0) {
        if (count == DEVICE_PLAN_TOO_MANY)
            reason = "more than " + std::to_string(DEVICE_PLAN_MAX_PARTS) + " partitions";
        else if (count == DEVICE_PLAN_TOO_MANY_MBR)
            reason = "more than " + std::to_string(MBR_MAX_PARTITIONS) + " MBR partitions";
        set_why(why, lineNo, reason.empty() ? "malformed partition list" : reason);
    } else if (ferror(map)) {
        count = DEVICE_PLAN_INVALID;
        if (why)
            *why = "read error";
    }
    plan->partCount = count;
    return count;
}

namespace {

// The sectors a GPT leaves to partitions, [first, end) in 512-byte sectors:
// the protective MBR, the header and the entry array lie below, the backup
// array and header at the end of the device.
void gpt_usable(const DevicePlan *plan, int64_t *first, int64_t *end)
{
    const int64_t ratio = plan->sectorSize >= 512 ? plan->sectorSize / 512 : 1;
    const int64_t arraySectors = (16384 + plan->sectorSize - 1) / plan->sectorSize;
    const int64_t logical = plan->capacity / ratio;
    *first = (2 + arraySectors) * ratio;
    *end = (logical - 1 - arraySectors) * ratio;
}

bool is_loader_area(const partinfo &pt)
{
    return (pt.fs_type & (RK_FSTYPE_IDB | RK_FSTYPE_PARM)) != 0;
}

} // namespace

int64_t device_plan_part_sectors(const DevicePlan *plan, int i)
{
    const partinfo &pt = plan->map_parts[i];
    if (pt.size != 0)
        return pt.size;
    int64_t end = plan->capacity;
    // A growing GPT partition ends before the backup table.
    if (plan->tableKind == TABLE_KIND_GPT) {
        int64_t first = 0;
        gpt_usable(plan, &first, &end);
    }
    return end > pt.start ? end - pt.start : 0;
}

int device_plan_partition_count(const DevicePlan *plan)
{
    int n = 0;
    for (int i = 0; i < plan->partCount; ++i)
        if (!is_loader_area(plan->map_parts[i]))
            ++n;
    return n;
}

std::string device_plan_check_layout(const DevicePlan *plan)
{
    if (device_plan_partition_count(plan) == 0)
        return "no partitions";
    if (plan->tableKind != TABLE_KIND_GPT)
        return std::string();
    int64_t first = 0, end = 0;
    gpt_usable(plan, &first, &end);
    char msg[512];
    for (int i = 0; i < plan->partCount; ++i) {
        const partinfo &pt = plan->map_parts[i];
        if (is_loader_area(pt))
            continue;
        const int64_t size = device_plan_part_sectors(plan, i);
        const char *what = nullptr;
        if (pt.start < first)
            what = "lies on the partition table";
        else if (size > end - pt.start)
            what = "runs over the backup partition table";
        else if (pt.start < RK_IDB_START + RK_IDB_SECTORS && pt.start + size > RK_IDB_START)
            what = "lies on the IDB loader area";
        if (what) {
            snprintf(msg, sizeof(msg), "partition %.32s (start %lld, %lld sectors) %s", pt.name,
                     static_cast<long long>(pt.start), static_cast<long long>(size), what);
            return msg;
        }
    }
    return std::string();
}

std::string device_plan_check_fits(const DevicePlan *plan)
{
    char msg[PATH_MAX + 256];
    for (int i = 0; i < plan->partCount; ++i) {
        const partinfo &pt = plan->map_parts[i];
        bool fits = pt.start >= 0 && pt.size >= 0 && pt.start < plan->capacity &&
                    pt.size <= plan->capacity - pt.start;
        // A GPT layout may leave start 0 to follow the previous partition;
        // the GPT builder checks those against the usable area itself.
        if (plan->tableKind == TABLE_KIND_GPT && pt.start == 0 && !(pt.fs_type & (RK_FSTYPE_IDB | RK_FSTYPE_PARM)))
            fits = true;
        if (!fits) {
            snprintf(msg, sizeof(msg), "partition %.32s (start %lld, %lld sectors) lies beyond the end of %s (%lld sectors)",
                     pt.name, static_cast<long long>(pt.start), static_cast<long long>(pt.size),
                     plan->devicePath, static_cast<long long>(plan->capacity));
            return msg;
        }
    }
    return std::string();
}
