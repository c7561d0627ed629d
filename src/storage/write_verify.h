// Read-back verification of what the image writers put on the device.
//
// While switched on, every chunk a streamed copy writes to the device (raw,
// gzip, sparse and every other writer built on the copy pipeline) is hashed
// with XXH3-64 on the pipeline's reading side, as it is produced, so that
// verifying costs no second pass over the source: once per piece, a piece
// being the written bytes of one 1 MiB-aligned device range (fewer where
// the image leaves a gap, as a sparse image's don't-care chunks do). After
// the writer returned, write_verify_readback() flushes the device, reads
// every piece back around the page cache and compares; the whole image's
// hash is taken from what it read.
//
// Memory: 24 bytes per piece, 1.5 MiB for a 64 GiB raw image; a sparse
// image adds one piece per separate run of data inside a MiB.
#pragma once

#include <cerrno>
#include <cstdint>
#include <functional>

// Result of a read-back that found different data.
constexpr int WRITE_VERIFY_MISMATCH = -EILSEQ;

// Switches hashing on or off for the copies that start from now on.
void stream_set_verify(bool on);
bool stream_verify_enabled(void);

// What the writer running or last run since its stream_init put on the
// device: bytes (counted whether or not verification is on), whether the
// written pieces were hashed for a read-back, and, once
// write_verify_readback() found them all as written, the XXH3-64 of those
// bytes in device order (0 before).
struct written_summary
{
    int64_t bytes = 0;
    bool hashed = false;
    uint64_t hash = 0;
    // The bytes are copies of one loader or parameter block that its
    // writer put on the device itself, not an image's data: their hash is
    // no image's.
    bool copies = false;
};
written_summary stream_written_summary(void);
// Forgets what was recorded, so that a writer that does not go through the
// copy stream (and so does not reset it) is not credited with the last
// one's data.
void stream_written_clear(void);

// Forces the device's data out (fdatasync of mmc_fd), then reads every
// piece written since the last stream_init back from `path` (O_DIRECT with
// aligned buffers; where the file system refuses it, the cached pages are
// dropped with posix_fadvise(DONTNEED) first) and compares it with what was
// written. `progress` (may be empty) gets each whole percent once, with
// the bytes checked so far and the bytes to check.
// Returns 0 when everything reads back as written (also when nothing was
// recorded); WRITE_VERIFY_MISMATCH with *firstBad (may be null) set to the
// device byte offset where the first differing piece starts;
// MMC_COPY_CANCELLED when the cancel flag was seen between reads; another
// negative errno value when the device cannot be flushed or read.
int write_verify_readback(const char *path, const std::function<void(int percent, int64_t done, int64_t total)> &progress,
                          int64_t *firstBad);

// Tests only: called once the data is flushed, before it is read back, so a
// test can change the device behind the installer's back.
void write_verify_set_test_hook(std::function<void()> hook);
