#include "storage/copy_pipeline.h"
#include "storage/mmc.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <sched.h>
#include <sys/mman.h>
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

namespace {
// -1 when no decoding producer runs.
std::atomic<int> g_producerCpu{-1};

// What a helper thread was allowed at its first call, and the producer CPU
// it last moved off.
struct steering
{
    bool known = false;
    cpu_set_t allowed;
    int avoided = -1;
};
thread_local steering t_steer;

// The consumer is the caller's thread, which goes on after the copy: it
// gets its CPUs back.
void stop_steering()
{
    steering &st = t_steer;
    if (st.known && st.avoided >= 0)
        sched_setaffinity(0, sizeof st.allowed, &st.allowed);
    st = steering();
}
} // namespace

void keep_off_producer_cpu()
{
    steering &st = t_steer;
    const int cpu = g_producerCpu.load(std::memory_order_relaxed);
    if (cpu == st.avoided)
        return;
    if (!st.known) {
        st.known = sched_getaffinity(0, sizeof st.allowed, &st.allowed) == 0;
        if (!st.known)
            return;
    }
    cpu_set_t mask = st.allowed;
    if (cpu >= 0 && cpu < CPU_SETSIZE && CPU_ISSET(cpu, &mask) && CPU_COUNT(&mask) > 1)
        CPU_CLR(cpu, &mask);
    // Refused (CPUs taken away meanwhile): the thread stays where it is.
    if (sched_setaffinity(0, sizeof mask, &mask) == 0)
        st.avoided = cpu;
}

int pipeline_run(const pipe_producer &producer, const pipe_consumer &consumer, bool decoding)
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

    // Fresh copy memory costs a fault and a cleared page at its first touch,
    // a tenth of a gzip copy's time: a helper takes those faults ahead of
    // the decoder. MADV_POPULATE_WRITE leaves the bytes as they are, so
    // racing the producer over a page is harmless; a kernel without it
    // (before 5.14) leaves the faults to the producer.
    std::thread prefault;
#ifdef MADV_POPULATE_WRITE
    if (decoding)
        prefault = std::thread([&] {
            const size_t step = size_t(2) << 20;
            for (unsigned i = 0; i < count; ++i) {
                for (size_t off = 0; off < slots[i].chunk.cap; off += step) {
                    {
                        std::lock_guard<std::mutex> lk(mu);
                        if (stop)
                            return;
                    }
                    keep_off_producer_cpu();
                    const size_t len = std::min(step, slots[i].chunk.cap - off);
                    if (madvise(slots[i].chunk.buf + off, len, MADV_POPULATE_WRITE) != 0)
                        return;
                }
            }
        });
#endif

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
                if (decoding)
                    g_producerCpu.store(sched_getcpu(), std::memory_order_relaxed);
                rc = producer(s.chunk);
                if (decoding)
                    g_producerCpu.store(sched_getcpu(), std::memory_order_relaxed);
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
        keep_off_producer_cpu();
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
    if (prefault.joinable())
        prefault.join();
    g_producerCpu.store(-1, std::memory_order_relaxed);
    stop_steering();
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
