// Partition tables: MBR with an EBR chain, GPT, and a reader of the MBR/EBR
// chain already on a disk.
//
// Start and size values are counts of 512-byte sectors whatever the
// device's logical sector size; callbacks receive byte offsets (sector x
// 512). Device access goes through callbacks, so the same code writes to a
// device (mmc_write/mmc_read), a file or memory.
#pragma once

#include <climits>
#include <cstdint>
#include <functional>

// (device path, byte offset, length, buffer) -> bytes moved, or negative.
using part_write_fn = std::function<int64_t(const char *dev, int64_t offset, int64_t length, const void *buf)>;
using part_read_fn = std::function<int64_t(const char *dev, int64_t offset, int64_t length, void *buf)>;

// One partition of a layout (filled by the partition-map planner and the
// Rockchip parameter parser, written by gpt_part_table_make).
struct partinfo
{
    int64_t start;      // first sector; 0 in a GPT layout: right after the previous one
    int64_t size;       // sectors; 0: grow to the end
    int32_t in_mbr;     // 1 when the partition has an MBR entry
    int32_t fs_type;    // mask of layout type codes (0x20 ext4, 0x40000 Rockchip parameter, ...)
    int32_t index;      // number in the layout
    int32_t bootable;   // 1: GPT attribute bit 2 (legacy BIOS bootable)
    char image[PATH_MAX]; // image file path, "" when none
    char name[32];      // ASCII, NUL-terminated when shorter than 32
    char uuid[40];      // unique GUID text (36 chars) or ""
};

// Input of the MBR builder: one partition as 32-bit signed sector counts;
// size 0 grows to the end of the disk.
struct mbr_part
{
    int32_t start;
    int32_t size;
};

// Output of the MBR reader: absolute start, size in sectors, MBR type byte.
struct mbr_entry
{
    uint32_t start;
    uint32_t size;
    uint32_t type;
};

constexpr int MBR_MAX_PARTITIONS = 32;

// Writes a new MBR (three primaries and an EBR chain beyond four
// partitions). Returns the last write result (512 with mmc_write), -EINVAL
// without callback, -1 on a layout error (nothing written when it is found
// before the MBR is written), or the negative write result.
int disk_part_table_make(const char *device, int64_t diskSectors, const mbr_part *parts, int count,
                         const part_write_fn &write);

// Writes the EBR chain for the logical partitions `parts[0..count)`; the EBR
// of parts[0] lies at ebrSector. Called by disk_part_table_make.
int part_table_make_extended(const char *device, int64_t diskSectors, int64_t ebrSector,
                             int64_t extendedStart, const mbr_part *parts, int count,
                             const part_write_fn &write);

// Reads the MBR at tableSector (call with 0, 0) and follows the extended
// chain, storing entries at entries[*counter] and advancing *counter. Stops
// when maxEntries are stored or the chain loops back. Returns 0, a negative
// read result, or -EINVAL without callback.
int disk_part_table_info(const char *device, int64_t tableSector, int64_t extendedStart,
                         mbr_entry *entries, int *counter, int maxEntries, const part_read_fn &read);

// Writes protective MBR, primary GPT and backup GPT (backup first) for
// `count` entries of `parts`. sectorSize is the logical sector size (512 or
// 4096). Returns 0, -1 on a layout error (nothing written), -EIO when a
// write is short or fails.
int gpt_part_table_make(const char *device, int64_t diskSectors, int sectorSize, const partinfo *parts,
                        int count, const part_write_fn &write);

// Standard CRC-32 (reflected 0xEDB88320, inverted on entry and exit):
// crc32_le(0, data, n) is the CRC-32 of data, and can be chained.
uint32_t crc32_le(uint32_t crc, const void *data, size_t length);

// A random version-4 GUID in GPT byte order, from the kernel's random
// source. Returns 0 or -errno.
int gen_rand_uuid(uint8_t *out16);

// Parses "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx". format 1: first three
// groups little-endian (GPT order); format 0: all big-endian. Returns 0, or
// -EINVAL with out16 untouched.
int uuid_str_to_bin(const char *text, uint8_t *out16, int format);
