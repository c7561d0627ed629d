// Streaming decompression of an image file from a file descriptor
// (internal to the storage layer): one interface over the gzip, xz and
// zstd readers, so that the writers run any of them through the same copy
// pipeline. A stream that ends early, fails its checks or is not of its
// format at all is an error, never a short success; so are bytes after the
// end of an xz or zstd stream, as their own tools take them (gzip ignores
// such a tail, as gzip does).
#pragma once

#include "storage/imagewriter.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace storage_internal {

class codec_source
{
public:
    virtual ~codec_source() = default;
    // Decompresses up to `cap` bytes into `out`. Returns the count (> 0), 0
    // at the clean end of the input, or -1 (message in error()).
    virtual int64_t read(uint8_t *out, size_t cap) = 0;
    // Compressed bytes consumed so far, from the descriptor's start position.
    virtual int64_t consumed() const = 0;
    const std::string &error() const { return m_error; }

protected:
    // Keeps the cause and makes every later read fail too; returns -1.
    int64_t fail(const char *why)
    {
        m_error = why;
        m_failed = true;
        return -1;
    }

    std::string m_error;
    bool m_failed = false;
};

// Opens the reader of `kind` (not IMAGE_RAW) on `fd`, whose ownership it
// takes. `peek`: only the first bytes are wanted, so small buffers and no
// decoder threads. Null when the reader cannot be set up (fd is closed).
std::unique_ptr<codec_source> codec_source_open(image_compression kind, int fd, bool peek);

// The xz and zstd readers (codec_source_open picks them by kind).
std::unique_ptr<codec_source> xz_source_open(int fd, bool peek);
std::unique_ptr<codec_source> zstd_source_open(int fd, bool peek);

// The input side the readers share: the file read in pieces. A whole copy
// (not a peek) of a file larger than one piece reads ahead on a thread of
// its own, into a few pieces in turn, so that the decoder's thread, the one
// the copy waits for, only decodes.
class codec_input
{
public:
    // `piece`: bytes per read; 0 for the copy's megabyte (64 KiB for a peek).
    codec_input(int fd, bool peek, size_t piece = 0);
    ~codec_input();
    codec_input(const codec_input &) = delete;
    codec_input &operator=(const codec_input &) = delete;
    // Makes the next piece current; the one before may be overwritten from
    // now on. Returns its length, 0 at the end of the file, -1 on a read
    // error (and the same for every later call).
    int64_t fill();
    const uint8_t *data() const { return m_cur; }
    bool valid() const { return m_buf != nullptr; }

private:
    struct ahead;
    int64_t read_piece(uint8_t *to);

    int m_fd;
    size_t m_size;
    std::unique_ptr<uint8_t[]> m_buf;
    const uint8_t *m_cur = nullptr;
    std::unique_ptr<ahead> m_ahead;
};

} // namespace storage_internal
