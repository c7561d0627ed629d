// One line of a "partmap.txt" partition map, and the table of partition-type
// names it may use. Pure text parsing: nothing here touches a device.
#pragma once

#include <cstdint>

// Partition-type codes of the map. Several are masks tested together.
enum : uint32_t {
    PARTMAP_TYPE_2ND = 0x1,
    PARTMAP_TYPE_BOOT = 0x2,
    PARTMAP_TYPE_RAW = 0x4,
    PARTMAP_TYPE_FAT = 0x10,
    PARTMAP_TYPE_EXT4 = 0x20,
    PARTMAP_TYPE_UBI = 0x40,
    PARTMAP_TYPE_UBIFS = 0x80,
    PARTMAP_TYPE_EMMC = 0x100,
    PARTMAP_TYPE_IDB = 0x10000,
    PARTMAP_TYPE_PARM = 0x20000,
    // Set by the Rockchip parameter parser, never named in a partmap line.
    PARTMAP_TYPE_RKPARAM = 0x40000,
    // Types whose partitions get an MBR entry.
    PARTMAP_MBR_MASK = 0x1F0,
};

// Lines are read up to this many bytes.
constexpr int PARTMAP_LINE_LEN = 4096;
// Every field can hold a whole line, so no field is ever cut short (a cut
// file name would name another file).
constexpr int PARTMAP_FIELD_LEN = PARTMAP_LINE_LEN;

struct partmap_line
{
    char field1[PARTMAP_FIELD_LEN];   // target keyword, logged only
    char field2[PARTMAP_FIELD_LEN];   // device kind, logged only
    char field3[PARTMAP_FIELD_LEN];   // device number, logged only
    char name[PARTMAP_FIELD_LEN];
    char type[PARTMAP_FIELD_LEN];
    char start[PARTMAP_FIELD_LEN];    // hexadecimal byte count
    char size[PARTMAP_FIELD_LEN];     // hexadecimal byte count
    char file[PARTMAP_FIELD_LEN];     // relative to the image set, "" for none
    int fields;                       // fields the scan pattern filled
    uint64_t startBytes;
    uint64_t sizeBytes;
};

// The code of a type name (exact match), 0 for an unknown name.
uint32_t partmap_type_code(const char *typeName);

// Scans one line with the map's pattern
// "%[^=]=%[^,],%[^:]:%[^:]:%[^:]:%[^,],%[^:]:%[^;]". Returns the number of
// fields filled (8 with a file, 7 without), or a smaller count for a line the
// map reader ignores. start/size must be hexadecimal with or without "0x";
// a line whose start or size is not a hexadecimal number returns -1. Line
// endings are trimmed from the name and the file (a last line without its
// ";" keeps them otherwise).
int partmap_parse_line(const char *line, partmap_line *out);
