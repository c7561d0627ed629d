#pragma once

#include "storage/imagewriter.h"

#include <string>
#include <vector>

// Builds an Android sparse image chunk by chunk.
class SparseBuilder
{
public:
    explicit SparseBuilder(uint32_t blockSize = 4096) : m_blk(blockSize) {}
    SparseBuilder &raw(const std::vector<uint8_t> &d)
    {
        return chunk(CHUNK_TYPE_RAW, uint32_t(d.size() / m_blk), uint32_t(12 + d.size())).append(d.data(), d.size());
    }
    SparseBuilder &fill(uint32_t blocks, uint32_t word) { return chunk(CHUNK_TYPE_FILL, blocks, 16).append(&word, 4); }
    SparseBuilder &skip(uint32_t blocks) { return chunk(CHUNK_TYPE_DONT_CARE, blocks, 12); }
    // CRC32 chunks occur with and without their 4-byte value.
    SparseBuilder &crc(bool withValue)
    {
        const uint32_t v = 0x12345678;
        chunk(CHUNK_TYPE_CRC32, 0, withValue ? 16 : 12);
        return withValue ? append(&v, 4) : *this;
    }
    // Any header, for broken chunks.
    SparseBuilder &chunk(uint16_t type, uint32_t blocks, uint32_t total)
    {
        const chunk_header_t h{type, 0, blocks, total};
        append(&h, sizeof h);
        m_blocks += blocks;
        ++m_chunks;
        headerEnds.push_back(28 + m_body.size());
        return *this;
    }
    SparseBuilder &append(const void *p, size_t n)
    {
        m_body.append(static_cast<const char *>(p), n);
        return *this;
    }
    std::string bytes(int64_t totalBlocks = -1) const
    {
        sparse_header_t h{SPARSE_HEADER_MAGIC, 1, 0, 28, 12, m_blk,
                          uint32_t(totalBlocks < 0 ? m_blocks : totalBlocks), m_chunks, 0};
        return std::string(reinterpret_cast<const char *>(&h), sizeof h) + m_body;
    }
    std::vector<size_t> headerEnds;   // file offsets, for truncation

private:
    uint32_t m_blk;
    uint64_t m_blocks = 0;
    uint32_t m_chunks = 0;
    std::string m_body;
};
