#include "storage/copy_pipeline.h"
#include "storage/mmc.h"
#include "util/log2file.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
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

int device_sink::write_chunk(const pipe_chunk &c)
{
    int64_t lo = INT64_MAX, hi = -1;
    for (const pipe_segment &seg : c.segs) {
        int64_t done = 0;
        while (done < seg.length) {
            const int64_t n = std::min<int64_t>(seg.length - done, static_cast<int64_t>(seg.buf_length));
            const int64_t rc = mmc_write(m_path, seg.dst_offset + done, n, c.buf + seg.buf_offset);
            if (rc != n)
                return rc < 0 ? static_cast<int>(rc) : -EIO;
            done += n;
        }
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
