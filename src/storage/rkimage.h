// Rockchip firmware packages: the RKFW container (MD5 trailer) around an
// RKAF update image (entry table, Rockchip CRC), the extraction of its
// entries, the file-system helpers used around it, and raw access to the
// boot device outside the streamed-copy state.
//
// The installer only reads these containers. Header parsers work on memory
// (rkfw_parse_header, rkaf_parse_header) so that they need no file; the
// unpackers drive them over files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// ---- RKFW ----------------------------------------------------------------------

constexpr size_t RKFW_HEADER_SIZE = 102;
constexpr size_t RKFW_DIGEST_LEN = 32;   // MD5 as hexadecimal text

#pragma pack(push, 1)
struct rkfw_header
{
    char magic[4];               // "RKFW"
    uint8_t head_len[2];
    uint32_t version;            // major << 24 | minor << 16 | build
    uint32_t code;
    uint16_t year;
    uint8_t month, day, hour, minute, second;
    uint32_t chip;
    uint8_t reserved0[8];
    uint32_t payload_offset;     // bytes from the start of the file
    uint32_t payload_length;
    uint8_t reserved1[61];
};
#pragma pack(pop)
static_assert(sizeof(rkfw_header) == RKFW_HEADER_SIZE, "RKFW header layout");

// Decoded header; every field in host order.
struct rkfw_info
{
    uint32_t version;
    unsigned year, month, day, hour, minute, second;
    uint32_t chip;
    uint64_t payload_offset;
    uint64_t payload_length;
    uint64_t digest_offset;      // payload_offset + payload_length, no 32-bit wrap
};

// Decodes the first `len` bytes of a file. Returns 0; -1 when fewer than
// RKFW_HEADER_SIZE bytes are given or the magic is not "RKFW".
int rkfw_parse_header(const void *buf, size_t len, rkfw_info *out);

// 0 when the MD5 of the first `length` bytes of `fp` equals the 32
// hexadecimal characters (either case) that follow them; -1 otherwise, also
// when the file ends before them.
int check_md5sum(FILE *fp, int64_t length);

// Copies `length` bytes of `fp` from `offset` into a new `outPath`. Returns
// 0, or -1 when the output cannot be created or written, or the input ends
// early.
int export_data(const char *outPath, int64_t offset, int64_t length, FILE *fp);

// Checks the RKFW file at `path` (magic, MD5) and writes its payload to
// `outPath`. Returns 0 or -1, with the cause in *why (may be null).
int unpack_rom(const char *path, const char *outPath, std::string *why = nullptr);
int unpack_rom_checked(const char *path, const char *outPath, std::string &why);

// ---- RKAF ----------------------------------------------------------------------

constexpr size_t RKAF_HEADER_SIZE = 2048;
constexpr int RKAF_MAX_ENTRIES = 16;

#pragma pack(push, 1)
struct rkaf_entry
{
    char name[32];               // partition name, NUL-padded
    char file[60];               // path inside the container, "SELF": the container
    uint32_t part_size;
    uint32_t offset;             // of the data in the container
    uint32_t flash_start;
    uint32_t padded_size;
    uint32_t size;               // data bytes
};

struct rkaf_header
{
    char magic[4];               // "RKAF"
    uint32_t length;             // bytes covered by the CRC, which follows them
    char model[34];
    char id[30];
    char manufacturer[56];
    uint32_t unknown;
    uint32_t version;
    uint32_t num_parts;
    rkaf_entry parts[RKAF_MAX_ENTRIES];
    uint8_t reserved[116];
};
#pragma pack(pop)
static_assert(sizeof(rkaf_entry) == 112, "RKAF entry layout");
static_assert(sizeof(rkaf_header) == RKAF_HEADER_SIZE, "RKAF header layout");

// What the unpacker does with an entry.
enum rkaf_item_state {
    RKAF_ITEM_EXTRACT = 0,       // copy [offset, offset + size) to `file`
    RKAF_ITEM_SELF,              // the container itself: skipped
    RKAF_ITEM_OUT_OF_RANGE,      // data past `length` (or a parameter entry under 12 bytes)
    RKAF_ITEM_BAD_NAME,          // empty, absolute or ".." file name
};

struct rkaf_item
{
    char name[33];               // NUL-terminated copies of the entry's texts
    char file[61];
    uint32_t raw_offset;         // as stored
    uint32_t raw_size;
    uint64_t offset;             // of the data to extract (parameter head stripped)
    uint64_t size;
    rkaf_item_state state;
};

struct rkaf_info
{
    uint32_t length;
    uint32_t count;              // entries in items
    rkaf_item items[RKAF_MAX_ENTRIES];
};

// Decodes and checks the 2048-byte header (not the CRC). Returns 0; -1 when
// fewer than RKAF_HEADER_SIZE bytes are given or the magic is not "RKAF"; -2
// when it claims more than RKAF_MAX_ENTRIES entries (the table has no room
// for them: such a package is refused, not cut). Bad entries do not fail the
// header; they are marked in their state.
int rkaf_parse_header(const void *buf, size_t len, rkaf_info *out);

// True for a relative path with no ".." component and no empty name.
bool rkaf_file_name_is_safe(const char *name);

// crc32_rk of the next `length` bytes of `fp`, read in 1024-byte pieces;
// stops early at the end of the file. 0 for length 0.
uint32_t filestream_crc(FILE *fp, int64_t length);

// Creates every directory prefix of `path` that ends before a "/" (mode
// 0755); existing ones are fine. Returns 0 or -1.
int create_dir(const char *path);

// Copies `length` bytes of `fp` from `offset` into a new `outPath`. Returns
// 0, or -1 when the output cannot be created or written, or the input ends
// early.
int extract_file(FILE *fp, int64_t offset, int64_t length, const char *outPath);

// Checks the RKAF file at `path` (magic, entry count, CRC, every entry) and
// extracts its entries below `outDir`. A package with any bad entry (data
// outside the package, a name that leaves `outDir`, one that would
// overwrite the package) is refused before anything is extracted; an entry
// that cannot be extracted fails the whole unpack. Returns 0 or -1, with
// the cause in *why (may be null).
int unpack_update(const char *path, const char *outDir, std::string *why = nullptr);
int unpack_update_checked(const char *path, const char *outDir, std::string &why);

// Copies `length` bytes of `fp` from `offset` into a new `outPath` (never
// through a symbolic link at `outPath`). Returns 0 or -1; a short input or a
// failed write is logged here, while a failure to create the output sets
// *openErrno for the caller's own message.
int rk_copy_to_file(FILE *fp, int64_t offset, int64_t length, const char *outPath, int *openErrno);

// ---- file-system helpers -------------------------------------------------------

// Free space of the root file system (below the simulation root when one is
// set) for unprivileged users, in MiB; -1 when it cannot be read.
int64_t get_available_disksize_mb(void);

// Deletes the tree at `path` without following symbolic links. Returns 0, or
// non-zero at the first failure.
int remove_directory(const char *path);

// ---- raw device access outside the streamed-copy state --------------------------

// Opens `path` read-write. Returns the descriptor, -errno when the path does
// not exist, -1 when it cannot be opened.
int global_mmc_open(const char *path);
// Writes `length` bytes at `offset`; `path` names the device in messages.
// Returns the bytes written, or -1.
int64_t global_mmc_write(int fd, const char *path, int64_t offset, int64_t length, const void *buf);
// Reads `length` bytes at `offset` of `path`. Returns the bytes read, -errno
// when the path does not exist, -1 on failure.
int64_t global_mmc_read(const char *path, int64_t offset, int64_t length, void *buf);
// BLKFLSBUF on `fd`; a failure is logged (regular files do not support it).
int global_mmc_blkfls_buf(int fd);
// fdatasync, flush and close a descriptor >= 1. Returns 0, or -1 when the
// data could not be forced out or the descriptor not closed.
int global_mmc_release(int fd);
