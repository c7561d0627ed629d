#include "storage/copy_pipeline.h"
#include "storage/mmc.h"
#include "util/log2file.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <linux/falloc.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <mutex>
#include <thread>

namespace storage_internal {

namespace {
enum SlotState { SLOT_FREE, SLOT_FULL, SLOT_END, SLOT_ERROR };

struct Slot
{
    pipe_chunk chunk;
    SlotState state = SLOT_FREE;
    int rc = 0;
};
} // namespace

int pipeline_run(const pipe_producer &producer, const pipe_consumer &consumer)
{
    if (!stream_buffer(0) || !stream_buffer(1))
        return -ENOMEM;
    Slot slots[2];
    for (int i = 0; i < 2; ++i) {
        slots[i].chunk.buf = stream_buffer(i);
        slots[i].chunk.cap = stream_buffer_size();
    }
    std::mutex mu;
    std::condition_variable cv;
    bool stop = false;

    std::thread reader([&] {
        for (unsigned k = 0;; ++k) {
            Slot &s = slots[k % 2];
            {
                std::unique_lock<std::mutex> lk(mu);
                cv.wait(lk, [&] { return stop || s.state == SLOT_FREE; });
                if (stop)
                    return;
            }
            // The consumer checks the flag too; checking here as well keeps
            // a cancelled copy from reading one more chunk for nothing.
            int rc;
            if (stream_cancel_requested()) {
                rc = MMC_COPY_CANCELLED;
            } else {
                s.chunk.segs.clear();
                rc = producer(s.chunk);
            }
            std::lock_guard<std::mutex> lk(mu);
            if (rc > 0) {
                s.state = SLOT_FULL;
            } else {
                s.state = rc == 0 ? SLOT_END : SLOT_ERROR;
                s.rc = rc;
            }
            cv.notify_all();
            if (rc <= 0)
                return;
        }
    });

    int result = 0;
    for (unsigned k = 0;; ++k) {
        Slot &s = slots[k % 2];
        {
            std::unique_lock<std::mutex> lk(mu);
            cv.wait(lk, [&] { return s.state != SLOT_FREE; });
        }
        if (s.state == SLOT_END)
            break;
        if (s.state == SLOT_ERROR) {
            result = s.rc;
            break;
        }
        if (stream_cancel_requested()) {
            result = MMC_COPY_CANCELLED;
            break;
        }
        const int rc = consumer(s.chunk);
        if (rc < 0) {
            result = rc;
            break;
        }
        std::lock_guard<std::mutex> lk(mu);
        s.state = SLOT_FREE;
        cv.notify_all();
    }
    {
        std::lock_guard<std::mutex> lk(mu);
        stop = true;
        cv.notify_all();
    }
    reader.join();
    return result;
}

bool is_zero(const uint8_t *p, size_t len)
{
    // Compare the buffer with itself shifted by 16 bytes once the first 16
    // are known to be zero: one vectorised memcmp instead of a byte loop.
    const size_t head = std::min<size_t>(len, 16);
    for (size_t i = 0; i < head; ++i)
        if (p[i])
            return false;
    return len <= 16 || memcmp(p, p + 16, len - 16) == 0;
}

device_sink::device_sink(const char *path) : m_path(path)
{
    struct stat st;
    if (fstat(mmc_fd, &st) == 0)
        m_zeroKind = S_ISBLK(st.st_mode) ? 1 : (S_ISREG(st.st_mode) ? 2 : 0);
}

bool device_sink::zero_range(int64_t dst, int64_t len)
{
    int rc = -1;
    if (m_zeroKind == 1) {
        uint64_t range[2] = {static_cast<uint64_t>(dst), static_cast<uint64_t>(len)};
        rc = ioctl(mmc_fd, BLKZEROOUT, range);
    } else if (m_zeroKind == 2) {
        // No KEEP_SIZE: beyond the end the file grows, as a write would.
        rc = fallocate64(mmc_fd, FALLOC_FL_ZERO_RANGE, dst, len);
    }
    if (rc != 0 && m_zeroKind != 0) {
        log2file("zeroing %lld bytes at %lld refused (errno=%d), writing zeros instead\n", (long long)len,
                 (long long)dst, errno);
        m_zeroKind = 0;
    }
    return rc == 0;
}

// Writes len bytes at dst from data (a pattern of patternLen bytes repeated
// when patternLen < len), zeroing whole zero MiBs instead of writing them.
int device_sink::write_range(const uint8_t *data, int64_t dst, int64_t len, size_t patternLen)
{
    const bool pattern = static_cast<int64_t>(patternLen) < len;
    const bool aligned = dst % 4096 == 0;
    if (pattern && aligned && m_zeroKind != 0 && len % 4096 == 0 && is_zero(data, patternLen) &&
        zero_range(dst, len))
        return 0;
    int64_t done = 0;
    while (done < len) {
        int64_t n = std::min<int64_t>(len - done, pattern ? static_cast<int64_t>(patternLen) : ZERO_GRAIN);
        const uint8_t *src = pattern ? data : data + done;
        if (!pattern && aligned && m_zeroKind != 0 && n == ZERO_GRAIN && is_zero(src, static_cast<size_t>(n))) {
            // Gather the whole zero run, then zero it in one request.
            int64_t run = n;
            while (done + run + ZERO_GRAIN <= len && is_zero(data + done + run, ZERO_GRAIN))
                run += ZERO_GRAIN;
            if (zero_range(dst + done, run)) {
                done += run;
                continue;
            }
        } else if (!pattern) {
            // Data up to the next zero MiB goes out in one write.
            while (done + n < len) {
                const int64_t next = std::min<int64_t>(len - done - n, ZERO_GRAIN);
                if (aligned && m_zeroKind != 0 && next == ZERO_GRAIN && is_zero(data + done + n, ZERO_GRAIN))
                    break;
                n += next;
            }
        }
        const int64_t rc = mmc_write(m_path, dst + done, n, src);
        if (rc != n)
            return rc < 0 ? static_cast<int>(rc) : -EIO;
        done += n;
    }
    return 0;
}

int device_sink::write_chunk(const pipe_chunk &c)
{
    int64_t lo = INT64_MAX, hi = -1;
    for (const pipe_segment &seg : c.segs) {
        const int rc = write_range(c.buf + seg.buf_offset, seg.dst_offset, seg.length, seg.buf_length);
        if (rc != 0)
            return rc;
        if (seg.length > 0) {
            lo = std::min(lo, seg.dst_offset);
            hi = std::max(hi, seg.dst_offset + seg.length);
        }
    }
    if (hi < 0)
        return 0;
    // Start write-back of this chunk now, then wait for the previous one:
    // the device stays busy while dirty memory stays near two chunks, and
    // the final flush in mmc_release finds little left. Errors here are not
    // fatal: fdatasync at release reports what did not reach the device.
    sync_file_range(mmc_fd, lo, hi - lo, SYNC_FILE_RANGE_WRITE);
    if (m_prevEnd > m_prevStart)
        sync_file_range(mmc_fd, m_prevStart, m_prevEnd - m_prevStart,
                        SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
    m_prevStart = lo;
    m_prevEnd = hi;
    return 0;
}

} // namespace storage_internal
