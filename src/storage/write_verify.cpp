// Hashes of what the image writers put on the device, and their read-back.
#include "storage/write_verify.h"
#include "storage/copy_pipeline.h"
#include "storage/mmc.h"
#include "util/log2file.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>
#include <xxhash.h>

using namespace storage_internal;

namespace {

constexpr int64_t PIECE_GRAIN = 1 << 20;
// Read-back: SLOTS windows of the copy memory; pieces further apart than
// GAP_MAX are read separately instead of reading the gap between them.
constexpr int SLOTS = 3;
constexpr int64_t GAP_MAX = 64 << 10;

struct piece
{
    int64_t off;
    int64_t len;
    uint64_t hash;
};

struct state_deleter
{
    void operator()(XXH3_state_t *s) const { XXH3_freeState(s); }
};
using state_ptr = std::unique_ptr<XXH3_state_t, state_deleter>;

// Filled on the pipeline's reader thread while a copy runs and read on the
// job's thread once pipeline_run has joined it (which orders the two).
struct write_record
{
    bool hashing = false;
    int64_t bytes = 0;
    std::vector<piece> pieces;
    state_ptr image{XXH3_createState()};
    state_ptr current{XXH3_createState()};
    bool open = false;
    piece cur{0, 0, 0};

    void close_piece()
    {
        if (!open)
            return;
        cur.hash = XXH3_64bits_digest(current.get());
        pieces.push_back(cur);
        open = false;
    }

    void feed(const uint8_t *p, size_t n)
    {
        XXH3_64bits_update(current.get(), p, n);
        XXH3_64bits_update(image.get(), p, n);
    }

    // Writers produce in rising device order, so a run that continues the
    // open piece inside its MiB extends it; anything else starts a new one.
    void add(const uint8_t *data, int64_t dst, int64_t len, size_t patternLen)
    {
        bytes += len;
        if (!hashing)
            return;
        const bool pattern = static_cast<int64_t>(patternLen) < len;
        int64_t done = 0;
        while (done < len) {
            const int64_t at = dst + done;
            if (!open || at != cur.off + cur.len || at / PIECE_GRAIN != cur.off / PIECE_GRAIN) {
                close_piece();
                XXH3_64bits_reset(current.get());
                cur = {at, 0, 0};
                open = true;
            }
            const int64_t n = std::min(len - done, (at / PIECE_GRAIN + 1) * PIECE_GRAIN - at);
            if (!pattern) {
                feed(data + done, static_cast<size_t>(n));
            } else {
                // A fill: the pattern again and again, from the phase this
                // byte of the run has.
                int64_t k = 0;
                while (k < n) {
                    const size_t phase = static_cast<size_t>((done + k) % static_cast<int64_t>(patternLen));
                    const size_t m = static_cast<size_t>(std::min<int64_t>(n - k, static_cast<int64_t>(patternLen - phase)));
                    feed(data + phase, m);
                    k += static_cast<int64_t>(m);
                }
            }
            cur.len += n;
            done += n;
        }
    }

    void reset()
    {
        hashing = stream_verify_enabled();
        bytes = 0;
        pieces.clear();
        open = false;
        XXH3_64bits_reset(image.get());
    }
};

std::atomic<bool> g_verify{false};
std::atomic<bool> g_sinkActive{false};
write_record g_record;
std::function<void()> g_testHook;

struct aligned_buffer
{
    uint8_t *p = nullptr;
    explicit aligned_buffer(size_t n)
    {
        void *v = nullptr;
        if (posix_memalign(&v, 4096, n) == 0)
            p = static_cast<uint8_t *>(v);
    }
    ~aligned_buffer() { free(p); }
};

} // namespace

void stream_set_verify(bool on)
{
    g_verify = on;
}

bool stream_verify_enabled(void)
{
    return g_verify.load();
}

written_summary stream_written_summary(void)
{
    written_summary s;
    s.bytes = g_record.bytes;
    s.hashed = g_record.hashing;
    if (s.hashed)
        s.hash = XXH3_64bits_digest(g_record.image.get());
    return s;
}

void stream_written_clear(void)
{
    g_record.reset();
}

void write_verify_set_test_hook(std::function<void()> hook)
{
    g_testHook = std::move(hook);
}

namespace storage_internal {

void write_record_reset()
{
    g_record.reset();
}

void write_record_add(const uint8_t *data, int64_t dst, int64_t len, size_t patternLen)
{
    g_record.add(data, dst, len, patternLen);
}

void write_record_chunk(const pipe_chunk &c)
{
    for (const pipe_segment &s : c.segs)
        g_record.add(c.buf + s.buf_offset, s.dst_offset, s.length, s.buf_length);
}

void write_record_sink_active(bool on)
{
    g_sinkActive = on;
}

bool write_record_sink_is_active()
{
    return g_sinkActive.load();
}

} // namespace storage_internal

namespace {

// One read of the read-back: the pieces [first, last) lie in [lo, end).
struct window
{
    int64_t lo, end;
    size_t first, last;
};

// Pieces that lie close together share one read of at most `size` bytes.
std::vector<window> plan_windows(const std::vector<piece> &pieces, int64_t align, int64_t size)
{
    std::vector<window> out;
    for (size_t i = 0; i < pieces.size();) {
        window w{pieces[i].off / align * align, pieces[i].off + pieces[i].len, i, i + 1};
        while (w.last < pieces.size() && pieces[w.last].off - w.end <= GAP_MAX &&
               pieces[w.last].off + pieces[w.last].len - w.lo <= size) {
            w.end = pieces[w.last].off + pieces[w.last].len;
            ++w.last;
        }
        out.push_back(w);
        i = w.last;
    }
    return out;
}

} // namespace

int write_verify_readback(const char *path, const std::function<void(int percent)> &progress, int64_t *firstBad)
{
    g_record.close_piece();
    const std::vector<piece> &pieces = g_record.pieces;
    if (!g_record.hashing || pieces.empty())
        return 0;
    if (mmc_fd < 0)
        return -EBADF;
    // Read back only what reached the device: nothing of it may still sit
    // in the page cache, where a read would find it whatever the device
    // holds.
    if (fdatasync(mmc_fd) != 0) {
        const int e = errno;
        log2file("verify: cannot flush %s (errno=%d)\n", path, e);
        return -e;
    }
    if (g_testHook)
        g_testHook();
    // Direct reads serve the whole aligned blocks; the clean pages are
    // dropped as well, so that a short tail, or everything on a file system
    // that refuses O_DIRECT, comes from the device and not from the cache.
    posix_fadvise(mmc_fd, 0, 0, POSIX_FADV_DONTNEED);
    std::unique_ptr<direct_io> direct = direct_io::open(path, mmc_fd, false, 0);
    const int64_t align = direct ? direct->align() : 4096;
    // The copy's memory, cut the same way: a window is read while the one
    // before is hashed.
    const int64_t size = std::max<int64_t>(2 * PIECE_GRAIN, BUFFER_SIZE / SLOTS / PIECE_GRAIN * PIECE_GRAIN);
    const std::vector<window> windows = plan_windows(pieces, align, size);
    aligned_buffer mem(static_cast<size_t>(SLOTS * (size + align)));
    if (!mem.p)
        return -ENOMEM;
    auto slot = [&](size_t k) { return mem.p + (k % SLOTS) * static_cast<size_t>(size + align); };

    std::mutex mu;
    std::condition_variable cv;
    size_t readDone = 0, hashDone = 0;   // windows read, windows hashed
    int64_t readError = 0;
    bool stop = false;
    std::thread reader([&] {
        for (size_t k = 0; k < windows.size(); ++k) {
            {
                std::unique_lock<std::mutex> lk(mu);
                cv.wait(lk, [&] { return stop || k - hashDone < SLOTS; });
                if (stop)
                    return;
            }
            const window &w = windows[k];
            const int64_t got = direct ? direct->read(slot(k), w.lo, w.end - w.lo)
                                       : pread_full(mmc_fd, slot(k), w.lo, w.end - w.lo);
            std::lock_guard<std::mutex> lk(mu);
            if (got < w.end - w.lo) {
                log2file("verify: cannot read %lld bytes at %lld of %s (got %lld)\n", (long long)(w.end - w.lo),
                         (long long)w.lo, path, (long long)got);
                readError = got < 0 ? -EIO : -ENODATA;
            }
            ++readDone;
            cv.notify_all();
            if (readError)
                return;
        }
    });

    int64_t total = 0, checked = 0;
    for (const piece &p : pieces)
        total += p.len;
    int shown = -1, rc = 0;
    for (size_t k = 0; k < windows.size() && rc == 0; ++k) {
        {
            std::unique_lock<std::mutex> lk(mu);
            cv.wait(lk, [&] { return readDone > k || readError; });
            if (readDone <= k) {
                rc = static_cast<int>(readError);
                break;
            }
        }
        if (stream_cancel_requested()) {
            rc = MMC_COPY_CANCELLED;
            break;
        }
        const window &w = windows[k];
        for (size_t i = w.first; i < w.last; ++i) {
            const piece &p = pieces[i];
            if (XXH3_64bits(slot(k) + (p.off - w.lo), static_cast<size_t>(p.len)) != p.hash) {
                log2file("verify: %s differs from the written data in %lld bytes at %lld\n", path,
                         (long long)p.len, (long long)p.off);
                if (firstBad)
                    *firstBad = p.off;
                rc = WRITE_VERIFY_MISMATCH;
                break;
            }
            checked += p.len;
        }
        {
            std::lock_guard<std::mutex> lk(mu);
            ++hashDone;
            cv.notify_all();
        }
        const int pct = static_cast<int>(checked * 100 / total);
        if (rc == 0 && pct != shown && progress) {
            shown = pct;
            progress(pct);
        }
    }
    {
        std::lock_guard<std::mutex> lk(mu);
        stop = true;
        cv.notify_all();
    }
    reader.join();
    return rc;
}
