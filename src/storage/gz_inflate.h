// Streaming gzip inflate from a file descriptor (internal to the storage
// layer): ISA-L when the build has it, zlib's gzip file interface
// otherwise. Multi-member files are inflated whole; a stream that ends
// before its trailer, fails its CRC or length check, or is not gzip at all
// is an error, never a short success.
#pragma once

#include "storage/codec_source.h"

#include <memory>

namespace storage_internal {

// read() returns 0 at the end of the last member.
class gz_source : public codec_source
{
public:
    // Takes ownership of `fd` (a duplicate of the caller's descriptor).
    static std::unique_ptr<gz_source> open(int fd);
};

// The zlib reader alone (gzip_read, and the fallback of open()), reading
// the file in pieces of bufferSize bytes.
std::unique_ptr<gz_source> gz_source_zlib(int fd, unsigned bufferSize = 1u << 20);

} // namespace storage_internal
