// Rockchip and S5P boot data: the "parameter.txt" partition list, the
// Rockchip CRC and parameter block, the IDB loader copies, the S5P
// second-stage loader with its NSIH header, and the built-in IDB loaders.
//
// Sectors are 512-byte units; byte offsets and lengths are signed 64-bit.
// Parsers and block builders work on memory only; the writers put their
// bytes on the device opened by mmc_open (mmc.h), or through a write
// callback of the partition-table shape (parttable.h), which tests point at
// a regular file.
#pragma once

#include "storage/parttable.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// Fixed Rockchip areas, in 512-byte sectors.
constexpr int64_t RK_IDB_START = 64;
constexpr int64_t RK_IDB_SECTORS = 5120;          // 2.5 MiB
constexpr int64_t RK_PARM_START = 8192;
constexpr int64_t RK_PARM_SECTORS = 8192;         // 4 MiB

// partinfo fs type codes set by the parser.
constexpr int32_t RK_FSTYPE_RAW = 0x4;
constexpr int32_t RK_FSTYPE_IDB = 0x10000;
constexpr int32_t RK_FSTYPE_PARM = 0x20000;
constexpr int32_t RK_FSTYPE_PARAMETER_PART = 0x40000;

// Table kind whose offsets are absolute (GPT); any other kind places the
// partitions relative to the parameter area.
constexpr int RKPARM_MODE_GPT = 5;

// Records the install job's device plan holds; the parser never fills more.
constexpr int RKPARM_MAX_PARTS = 32;

// One copy of the parameter block and of the IDB loader (bytes).
constexpr int64_t RK_COPY_SIZE = 0x80000;
// Longest parameter text that fits one copy with its 12 bytes of framing.
constexpr int64_t RK_PARM_MAX_TEXT = 0x7FFF4;
constexpr int64_t RK_PARM_AREA_BYTES = 0x400000;
constexpr int64_t RK_IDB_AREA_BYTES = 0x280000;

// ---- parameter text --------------------------------------------------------

// Fills `part` with the IDB loader area; its image is `dir`/"idbloader.img".
void rkpart_init_idb(partinfo *part, const char *dir);

// Parses the partition list of the "CMDLINE:" line in `text` into `parts`
// (room for `capacity` records): the IDB area, the parameter area unless
// `mode` is RKPARM_MODE_GPT (its image is `paramFile` when non-empty, else
// `dir`/"parameter.txt"), then one record per definition. Returns the number
// of records filled; -EINVAL when `text` has no "CMDLINE:"; -1 on overlapping
// partitions, a malformed definition, a name that could leave `dir`, or more
// definitions than `capacity` holds (each with a message on standard output,
// whose text also goes to *why when given).
int rkparm_part_parse(const char *text, partinfo *parts, const char *dir, int mode, const char *paramFile,
                      int capacity = RKPARM_MAX_PARTS, std::string *why = nullptr);

// `text` is what follows "uuid:" on its line: name "=" UUID. Gives the UUID
// to the record with that exact name, else to the first whose name begins
// with it. Returns 1 when a record took it, else 0.
int rkparm_uuid_parse(const char *text, partinfo *parts, int count);

// ---- checksum and parameter block ------------------------------------------

// Rockchip CRC-32: polynomial 0x04C10DB7, MSB first, no reflection, no final
// inversion. Chains: crc32_rk(crc32_rk(0, a, n), b, m) is the CRC of a||b.
uint32_t crc32_rk(uint32_t crc, const void *data, size_t length);

// Turns the `length` bytes of parameter text at the start of `buf` into the
// block "PARM", length (LE), text, crc32_rk (LE), in place. `buf` must hold
// length + 12 bytes. Returns length + 8 (the offset of the CRC).
int64_t rkimg_build_parameter(uint8_t *buf, int64_t length);

// ---- writers -----------------------------------------------------------------
// All take (device path, byte offset, area size in bytes, open file, file
// size, image file name, partition name, file count, file index); the last
// four name the copy for progress reports. They return 0 (write_2nd_boot:
// the result of the streamed copy), -1 when the sizes are refused or the
// file cannot be read in full (nothing written then), or the negative result
// of the first failed device write (earlier copies stay written).

int write_rk_idb(const char *device, int64_t offset, int64_t areaSize, FILE *fp, int64_t fileSize,
                 const char *imageName, const char *partName, int fileCount, int fileIndex);
int write_rk_parm(const char *device, int64_t offset, int64_t areaSize, FILE *fp, int64_t fileSize,
                  const char *imageName, const char *partName, int fileCount, int fileIndex);
int write_2nd_boot(const char *device, int64_t offset, int64_t areaSize, FILE *fp, int64_t fileSize,
                   const char *imageName, const char *partName, int fileCount, int fileIndex);

// The same IDB and parameter writers with the bytes going to `write`
// instead of mmc_write (no progress report).
int write_rk_idb_to(const char *device, int64_t offset, int64_t areaSize, FILE *fp, int64_t fileSize,
                    const part_write_fn &write);
int write_rk_parm_to(const char *device, int64_t offset, int64_t areaSize, FILE *fp, int64_t fileSize,
                     const part_write_fn &write);

// ---- S5P second-stage loader ---------------------------------------------------

constexpr uint32_t S5P_NSIH_MAGIC = 0x4849534E;   // "NSIH" read as a little-endian word
constexpr size_t S5P_NSIH_SIZE = 512;
constexpr uint32_t S5P_LOAD_ADDRESS = 0x42C00000;

// True when the first 512 bytes of a loader already carry the NSIH header.
bool s5p_has_nsih(const uint8_t *first512);

// Builds the 512-byte NSIH header for a loader of `fileSize` bytes.
void s5p_build_nsih(uint8_t *out512, int64_t fileSize);

// ---- built-in IDB loaders ------------------------------------------------------

// Creates or truncates `path` and writes the built-in loader of `cpuName`
// (any case). Returns 0; -1 for a CPU without a built-in loader (no file is
// created); -2 when the file cannot be created; -3 when the write fails.
int gen_idbloader_img(const char *cpuName, const char *path);
