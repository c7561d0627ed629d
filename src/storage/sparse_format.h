// On-disk layout of Android sparse images (all fields little-endian).
#pragma once

#include <cstdint>

constexpr uint32_t SPARSE_HEADER_MAGIC = 0xED26FF3A;
constexpr uint16_t CHUNK_TYPE_RAW = 0xCAC1;
constexpr uint16_t CHUNK_TYPE_FILL = 0xCAC2;
constexpr uint16_t CHUNK_TYPE_DONT_CARE = 0xCAC3;
constexpr uint16_t CHUNK_TYPE_CRC32 = 0xCAC4;
// The only block size written in sparse form; others are copied raw.
constexpr uint32_t SPARSE_BLOCK_SIZE = 4096;

#pragma pack(push, 1)
struct sparse_header_t
{
    uint32_t magic;
    uint16_t major_version;
    uint16_t minor_version;
    uint16_t file_hdr_sz;   // >= 28; bytes beyond 28 are skipped
    uint16_t chunk_hdr_sz;  // >= 12; bytes beyond 12 are skipped
    uint32_t blk_sz;        // bytes per block
    uint32_t total_blks;    // output size = total_blks * blk_sz
    uint32_t total_chunks;
    uint32_t image_checksum;
};

struct chunk_header_t
{
    uint16_t chunk_type;
    uint16_t reserved1;
    uint32_t chunk_sz;      // output blocks
    uint32_t total_sz;      // bytes in the file, header included
};
#pragma pack(pop)

static_assert(sizeof(sparse_header_t) == 28, "sparse file header is 28 bytes");
static_assert(sizeof(chunk_header_t) == 12, "sparse chunk header is 12 bytes");

// True when the header is one we expand (magic, major version 1, 4096-byte
// blocks); anything else is written as raw bytes.
bool sparse_header_is_sparse(const sparse_header_t &h);
