// The two-buffer copy pipeline under every streamed copy (internal to the
// storage layer).
//
// A producer (read, read + inflate, or sparse expansion) fills one
// BUFFER_SIZE buffer on a helper thread while the consumer (device or file
// writes) drains the other on the calling thread, so reading overlaps
// writing and the sinks are still called on the caller's thread. Chunks are
// consumed strictly in production order; after the first failure on either
// side nothing further is consumed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <vector>

namespace storage_internal {

// One output range of a chunk: `length` bytes at `dst_offset`, taken from
// buf[buf_offset .. buf_offset + buf_length). When buf_length < length the
// buffer range is a repeating pattern (a sparse fill) written again and
// again; buf_length must then divide nothing in particular but be > 0.
struct pipe_segment
{
    int64_t dst_offset;
    int64_t length;
    size_t buf_offset;
    size_t buf_length;
};

struct pipe_chunk
{
    uint8_t *buf = nullptr;
    size_t cap = 0;                      // usable bytes of buf
    std::vector<pipe_segment> segs;
    int64_t progress_pos = 0;            // source bytes consumed once this chunk is written
};

// Fills the chunk (segs cleared beforehand). Returns 1 when a chunk was
// produced, 0 at the end of the input, a negative value on failure.
using pipe_producer = std::function<int(pipe_chunk &)>;
// Writes one chunk. Returns 0 or a negative value.
using pipe_consumer = std::function<int(const pipe_chunk &)>;

// Runs producer and consumer over the two stream buffers (stream_init must
// have allocated them). Returns 0 when the producer reached its end and
// every chunk was consumed; the first failure otherwise (producer or
// consumer result, MMC_COPY_CANCELLED when the cancel flag was seen between
// chunks).
int pipeline_run(const pipe_producer &producer, const pipe_consumer &consumer);

// Writes every segment of the chunk to mmc_fd (mmc_write), starts early
// write-back of what it wrote and waits for the previous chunk's write-back,
// so that at most about two chunks are dirty at any time. `path` names the
// device in messages. Returns 0 or the failing mmc_write result.
//
// Runs of whole zero MiBs (at 4 KiB-aligned device offsets) are not copied
// but zeroed by the kernel: BLKZEROOUT on a block device, fallocate
// ZERO_RANGE on a regular file. The result reads back the same; empty
// areas of file system images cost no data transfer where the device or
// file system can zero cheaply. When the request is refused the sink
// writes the zeros as ordinary data from then on.
class device_sink
{
public:
    explicit device_sink(const char *path);
    int write_chunk(const pipe_chunk &c);

private:
    int write_range(const uint8_t *data, int64_t dst, int64_t len, size_t patternLen);
    bool zero_range(int64_t dst, int64_t len);

    const char *m_path;
    int m_zeroKind = 0;   // 0 none, 1 block device, 2 regular file
    int64_t m_prevStart = -1;
    int64_t m_prevEnd = -1;
};

// True when len bytes at p are all zero.
bool is_zero(const uint8_t *p, size_t len);

// Granularity of zero detection (bytes).
constexpr int64_t ZERO_GRAIN = 1 << 20;

// Records that the consumer has written through source position `pos` and
// runs the progress step (stream state of mmc.h).
void pipeline_progress(int64_t pos);

// The two stream buffers and their size, valid between stream_init and
// stream_release (null before).
uint8_t *stream_buffer(int i);
size_t stream_buffer_size();

// Stream state shared with the image writers.
FILE *current_stream();
void stream_set_total(int64_t size);
int64_t stream_total();
int64_t stream_position();
void stream_set_position(int64_t pos);

} // namespace storage_internal
