#include "storage/copy_pipeline.h"
#include "storage/mmc.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
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
    const unsigned count = static_cast<unsigned>(stream_buffer_count());
    if (count == 0)
        return -ENOMEM;
    std::vector<Slot> slots(count);
    for (unsigned i = 0; i < count; ++i) {
        slots[i].chunk.buf = stream_buffer(static_cast<int>(i));
        slots[i].chunk.cap = stream_buffer_size();
    }
    std::mutex mu;
    std::condition_variable cv;
    bool stop = false;
    // Only copies to the device are recorded, not a back-up's reads.
    const bool record = write_record_sink_is_active();

    std::thread reader([&] {
        for (unsigned k = 0;; ++k) {
            Slot &s = slots[k % count];
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
                s.chunk.zero_grains.clear();
                rc = producer(s.chunk);
                // Hashed here, while the consumer writes the chunk before:
                // the digest costs no pass of its own over the source.
                if (rc > 0 && record)
                    write_record_chunk(s.chunk);
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
        Slot &s = slots[k % count];
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

} // namespace storage_internal
