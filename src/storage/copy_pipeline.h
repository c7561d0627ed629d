// The copy pipeline under every streamed copy (internal to the storage
// layer).
//
// The copy memory (BUFFER_SIZE bytes) is cut into a few slots. A producer
// (read, read + inflate, or sparse expansion) fills the free slots on a
// helper thread while the consumer (device or file writes) drains the full
// ones on the calling thread, so reading overlaps writing, the reader can
// run ahead by up to all slots but one, and the sinks are still called on
// the caller's thread. Chunks are consumed strictly in production order;
// after the first failure on either side nothing further is consumed, and a
// chunk is handed back to the producer only once it is written.
#pragma once

#include "storage/direct_io.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
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
    // One flag per ZERO_GRAIN of buf: 1 when the producer found that grain
    // all zero while it was still in the cache, 0 when it is data or was
    // not looked at. Empty when the producer did not look at all.
    std::vector<uint8_t> zero_grains;
};

// Fills the chunk (segs cleared beforehand). Returns 1 when a chunk was
// produced, 0 at the end of the input, a negative value on failure.
using pipe_producer = std::function<int(pipe_chunk &)>;
// Writes one chunk. Returns 0 or a negative value.
using pipe_consumer = std::function<int(const pipe_chunk &)>;

// Runs producer and consumer over the stream slots (stream_init must have
// allocated them). Returns 0 when the producer reached its end and
// every chunk was consumed; the first failure otherwise (producer or
// consumer result, MMC_COPY_CANCELLED when the cancel flag was seen between
// chunks). `decoding`: the producer decompresses, and is the copy's
// slowest stage: the other threads keep off its CPU (see
// keep_off_producer_cpu) and a helper takes the fresh copy memory's page
// faults ahead of it. Where the producer only reads (raw, sparse, back-up)
// the device side is the slower one, and the helpers would take their CPU
// time from it instead (measured: up to 15 % slower).
int pipeline_run(const pipe_producer &producer, const pipe_consumer &consumer, bool decoding = false);

// A decoding copy's producer is its one serial stage. Its thread says which
// CPU it runs on before and after each chunk; the helper threads (direct
// writers, the input's read-ahead, the consumer) call this before each
// piece of work and so run on the other CPUs, where they take no time from
// it. The producer itself is never pinned: the scheduler may still move
// it, and the helpers follow. Outside a decoding copy a helper gets all its
// CPUs back.
void keep_off_producer_cpu();

// Writes every segment of the chunk to the device opened by mmc_open and
// returns once all of it is written: 0, or the failing write's result.
// `path` names the device (and is opened a second time for direct I/O).
//
// Whole aligned blocks go around the page cache (O_DIRECT), split into
// pieces that several threads write at once, so the device has more than
// one write queued while the producer fills the next slot; unaligned heads
// and tails, and everything on a file system without direct I/O, go
// through mmc_fd with early write-back, so that at most about two chunks
// are dirty at any time.
//
// Zero runs of at least 1 MiB (at 4 KiB-aligned device offsets) are handed
// to the kernel where that is cheap: BLKZEROOUT on a block device whose
// queue says it can zero (write_zeroes_max_bytes > 0; a card or eMMC that
// cannot would be sent the zeros one small request at a time), fallocate
// ZERO_RANGE on a regular file. Shorter runs, and every run on other
// devices, are written as data together with the bytes around them. When a
// zeroing request is refused the sink writes the zeros from then on.
class device_sink
{
public:
    explicit device_sink(const char *path);
    ~device_sink();
    int write_chunk(const pipe_chunk &c);
    // Whether zero runs may be left to the kernel, so that a producer
    // marking zero grains saves the sink from looking again.
    bool zeroes_runs() const { return m_zeroKind != 0; }

    // For a writer whose chunks continue each other on the device: a zero
    // run that reaches the end of a chunk is held back and zeroed together
    // with its continuation in the next chunk, in one request (on a loop
    // device or an image file each request costs the file system a
    // transaction). finish() zeroes what is still held; the writer calls
    // it however the copy ended, so that a cancelled copy leaves the device
    // holding all that progress counted.
    void hold_trailing_zeros() { m_holdZeros = true; }
    int finish();

private:
    int write_range(const uint8_t *data, int64_t dst, int64_t len, size_t patternLen);
    int write_data(const uint8_t *src, int64_t dst, int64_t len);
    int write_buffered(const uint8_t *src, int64_t dst, int64_t len);
    bool zero_range(int64_t dst, int64_t len);
    bool zero_grain(const uint8_t *p) const;
    int zero_run(int64_t dst, int64_t len, bool atEnd);
    int release_zeros();
    int flush_chunk();

    const char *m_path;
    int m_zeroKind = 0;   // 0 none, 1 block device, 2 regular file
    const pipe_chunk *m_chunk = nullptr;   // being written
    bool m_holdZeros = false;
    int64_t m_heldFrom = 0, m_heldLen = 0;
    std::unique_ptr<uint8_t, void (*)(void *)> m_zeros{nullptr, free};   // one grain of zeros
    std::unique_ptr<direct_io> m_direct;
    std::vector<direct_io::piece> m_pieces;   // direct writes of the current chunk
    int64_t m_pieceSize = 0;
    int64_t m_bufLo = 0, m_bufHi = -1;   // buffered bytes of the current chunk
    int64_t m_prevStart = -1;
    int64_t m_prevEnd = -1;
};

// Device reads of the back-up direction: direct from a block device where
// the range allows it (so that a long back-up leaves the page cache of a
// small board alone), through mmc_fd otherwise. Returns the count read (short only at the device's end) or -1.
class device_source
{
public:
    explicit device_source(const char *path);
    ~device_source();
    int64_t read(uint8_t *dst, int64_t off, int64_t len);

private:
    std::unique_ptr<direct_io> m_direct;
};

// What the device writers produced, for read-back verification
// (write_verify.h). stream_init resets the record; a device_sink marks the
// pipeline it serves as one that writes the device, and pipeline_run then
// records every chunk on its reader thread as soon as it is produced.
// Bytes a writer puts on the device around the pipeline go in by
// write_record_add, in device order with the rest.
void write_record_reset();
// For a writer that puts copies of a loader or parameter block on the
// device itself: starts a record whose summary says so (written_summary).
void write_record_copies_begin();
void write_record_add(const uint8_t *data, int64_t dst, int64_t len, size_t patternLen);
void write_record_chunk(const pipe_chunk &c);
void write_record_sink_active(bool on);
bool write_record_sink_is_active();

// True when len bytes at p are all zero.
bool is_zero(const uint8_t *p, size_t len);

// Granularity of zero detection (bytes).
constexpr int64_t ZERO_GRAIN = 1 << 20;

// Records that the consumer has written through source position `pos` and
// runs the progress step (stream state of mmc.h).
void pipeline_progress(int64_t pos);

// The stream slots, their number and size (every slot page-aligned), valid
// between stream_init and stream_release (null and 0 before).
uint8_t *stream_buffer(int i);
int stream_buffer_count();
size_t stream_buffer_size();

// Stream state shared with the image writers.
FILE *current_stream();
void stream_set_total(int64_t size);
int64_t stream_total();
int64_t stream_position();
void stream_set_position(int64_t pos);

} // namespace storage_internal
