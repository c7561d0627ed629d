// Streaming gzip inflate from a file descriptor (internal to the storage
// layer): ISA-L when the build has it, zlib's gzip file interface
// otherwise. Multi-member files are inflated whole; a stream that ends
// before its trailer, fails its CRC or length check, or is not gzip at all
// is an error, never a short success.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace storage_internal {

class gz_source
{
public:
    // Takes ownership of `fd` (a duplicate of the caller's descriptor).
    static std::unique_ptr<gz_source> open(int fd);
    virtual ~gz_source() = default;
    // Inflates up to `cap` bytes into `out`. Returns the count (> 0), 0 at
    // the end of the last member, or -1 (message in error()).
    virtual int64_t read(uint8_t *out, size_t cap) = 0;
    // Compressed bytes consumed so far, from the descriptor's start position.
    virtual int64_t consumed() const = 0;
    const std::string &error() const { return m_error; }

protected:
    std::string m_error;
};

// The zlib reader alone (gzip_read, and the fallback of open()), reading
// the file in pieces of bufferSize bytes.
std::unique_ptr<gz_source> gz_source_zlib(int fd, unsigned bufferSize = 1u << 20);

} // namespace storage_internal
