// The plan for one target device of the partition-map install: which
// partitions to create, which table to write and which image goes where.
// Built from a "partmap.txt" map or a Rockchip "parameter.txt"; parsing
// works on an open text stream and touches no device.
#pragma once

#include <climits>
#include <cstdint>
#include <cstdio>
#include <string>

#include "storage/parttable.h"

constexpr int DEVICE_PLAN_MAX_PARTS = 32;

// Table kinds of a plan.
enum : int {
    TABLE_KIND_MBR = 2,
    TABLE_KIND_GPT = 5,
    TABLE_KIND_EMPTY_GPT = 6,
};

// Results of device_plan_parse besides a partition count.
enum : int {
    DEVICE_PLAN_INVALID = -1,      // a line or the Rockchip list is malformed
    DEVICE_PLAN_TOO_MANY = -2,     // more than DEVICE_PLAN_MAX_PARTS partitions
    DEVICE_PLAN_TOO_MANY_MBR = -3, // more than MBR_MAX_PARTITIONS MBR entries
};

struct DevicePlan
{
    char devicePath[PATH_MAX];
    char mapFile[PATH_MAX];
    // Image of the Rockchip parameter area when a rewritten parameter file
    // replaces the set's own; "" uses the set's "parameter.txt".
    char paramSource[PATH_MAX];
    // Directory whose files the map names: the image set, or the directory
    // a firmware package was unpacked into.
    char imageDir[PATH_MAX];

    // Partitions found on the device before anything is written.
    mbr_entry current[MBR_MAX_PARTITIONS];
    int currentCount;

    partinfo map_parts[DEVICE_PLAN_MAX_PARTS];
    mbr_part mbr[MBR_MAX_PARTITIONS];
    int partCount;   // negative after a parse error
    int mbrCount;

    int64_t capacity;   // 512-byte sectors
    int sectorSize;     // logical sector size in bytes
    int tableKind;
};

// Empty plan: no device, MBR kind, nothing parsed.
void device_plan_reset(DevicePlan *plan);

// True when the plan names a device to write ("" and "/dev/null" do not).
bool device_plan_has_device(const DevicePlan *plan);

struct DevicePlanOptions
{
    // Drop "userdata" lines (installs without the overlay file system of
    // sets that are not Android, OpenHarmony or raw images).
    bool dropUserdata = false;
};

// Reads the map line by line into plan->map_parts, plan->mbr and
// plan->tableKind; plan->imageDir prefixes every image file name. Returns the
// partition count (also stored in plan->partCount) or one of the negative
// DEVICE_PLAN_* results, then with the line and the cause in *why (may be
// null). A line with a NUL byte is refused. Traces go to the log.
int device_plan_parse(DevicePlan *plan, FILE *map, const DevicePlanOptions &options,
                      std::string *why = nullptr);

// Partitions of the plan besides the Rockchip loader and parameter areas.
int device_plan_partition_count(const DevicePlan *plan);

// Checks what the table and the writers would destroy: a plan without
// partitions, and in a GPT layout a partition below the first usable
// sector, over the backup table or over the IDB loader area. Returns "" or
// what is wrong.
std::string device_plan_check_layout(const DevicePlan *plan);

// Checks every partition against the device capacity and the 32-bit MBR
// fields. Returns "" when the layout fits, else what does not fit.
std::string device_plan_check_fits(const DevicePlan *plan);

// Grown size of partition i: its size, or what is left of the device (of
// its usable area in a GPT layout) after its start when the size is 0.
int64_t device_plan_part_sectors(const DevicePlan *plan, int i);
