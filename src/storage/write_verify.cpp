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
#include <memory>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>
#include <xxhash.h>
#if defined(__x86_64__) && __has_include(<xxh_x86dispatch.h>)
// The library's run-time choice of AVX2/AVX-512 code: the same hash values,
// several times the speed of its baseline SSE2 build.
#include <xxh_x86dispatch.h>
#endif

using namespace storage_internal;

namespace {

constexpr int64_t PIECE_GRAIN = 1 << 20;
// Read-back: SLOTS windows of the copy memory, at most WINDOW_MAX each,
// read and checked by READERS threads; pieces further apart than GAP_MAX
// are read separately instead of reading the gap between them. Four reads
// of 4 MiB in flight read a loop device or an image file as fast as dd with
// 16 MiB blocks does (2 MiB as fast, 8 and 16 MiB slower: more fresh memory
// to fault in), and a cancel waits for little on a slow card.
constexpr int SLOTS = 4;
constexpr int READERS = 4;
constexpr int64_t WINDOW_MAX = 4 << 20;
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

static_assert(PIECE_GRAIN == ZERO_GRAIN, "a zero grain must be one whole piece");

uint64_t zero_mib_hash()
{
    static const uint64_t h = [] {
        const std::vector<uint8_t> zeros(PIECE_GRAIN, 0);
        return XXH3_64bits(zeros.data(), zeros.size());
    }();
    return h;
}

// Filled on the pipeline's reader thread while a copy runs and read on the
// job's thread once pipeline_run has joined it (which orders the two).
struct write_record
{
    bool hashing = false;
    int64_t bytes = 0;
    std::vector<piece> pieces;
    // Hash of the whole image, taken from what the read-back found once
    // every piece matched: the same bytes, and no second pass on the
    // writing side, where the source is read.
    uint64_t imageHash = 0;
    bool imageHashed = false;
    bool copies = false;
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

    void feed(const uint8_t *p, size_t n) { XXH3_64bits_update(current.get(), p, n); }

    // Writers mostly produce in rising device order, so a run that
    // continues the open piece inside its MiB extends it; anything else
    // starts a new one.
    // `zeros` (may be null): the producer's zero flags for the ZERO_GRAIN
    // grains of the buffer, `data` lying `bufOff` bytes into it.
    void add(const uint8_t *data, int64_t dst, int64_t len, size_t patternLen,
             const std::vector<uint8_t> *zeros = nullptr, size_t bufOff = 0)
    {
        bytes += len;
        if (!hashing)
            return;
        const bool pattern = static_cast<int64_t>(patternLen) < len;
        int64_t done = 0;
        while (done < len) {
            const int64_t at = dst + done;
            const int64_t n = std::min(len - done, (at / PIECE_GRAIN + 1) * PIECE_GRAIN - at);
            // A whole device MiB (n can only be that from a MiB boundary)
            // that the producer already found zero: a piece of its own with
            // a known hash; most images are more than half such MiBs.
            const size_t inBuf = bufOff + static_cast<size_t>(done);
            if (!pattern && n == PIECE_GRAIN && zeros && inBuf % ZERO_GRAIN == 0 &&
                inBuf / ZERO_GRAIN < zeros->size() && (*zeros)[inBuf / ZERO_GRAIN]) {
                close_piece();
                pieces.push_back({at, n, zero_mib_hash()});
                done += n;
                continue;
            }
            if (!open || at != cur.off + cur.len || at / PIECE_GRAIN != cur.off / PIECE_GRAIN) {
                close_piece();
                XXH3_64bits_reset(current.get());
                cur = {at, 0, 0};
                open = true;
            }
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
        imageHashed = false;
        copies = false;
    }
};

std::atomic<bool> g_verify{false};
std::atomic<bool> g_sinkActive{false};
write_record g_record;
std::function<void()> g_testHook;

// Page-aligned memory for direct reads, owned like the pipeline's zeros.
std::unique_ptr<uint8_t, void (*)(void *)> aligned_buffer(size_t n)
{
    void *v = nullptr;
    if (posix_memalign(&v, 4096, n) != 0)
        v = nullptr;
    return {static_cast<uint8_t *>(v), free};
}

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
    s.copies = g_record.copies;
    if (g_record.imageHashed)
        s.hash = g_record.imageHash;
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

void write_record_copies_begin()
{
    g_record.reset();
    g_record.copies = true;
}

void write_record_add(const uint8_t *data, int64_t dst, int64_t len, size_t patternLen)
{
    g_record.add(data, dst, len, patternLen);
}

void write_record_chunk(const pipe_chunk &c)
{
    for (const pipe_segment &s : c.segs)
        g_record.add(c.buf + s.buf_offset, s.dst_offset, s.length, s.buf_length, &c.zero_grains, s.buf_offset);
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
// Windows end where a piece ends, on a MiB boundary but for an image's
// last piece, so two windows share a block only around an image's
// unaligned end.
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

// Outcome of one window: 0 when it reads back as written, else the error
// and, for a difference, where the first differing piece starts.
struct window_result
{
    bool done = false;
    int rc = 0;
    int64_t bad = -1;
};

// The read-back proper. READERS threads each take the next window, read it
// into their slot of the memory and compare its pieces, so that several
// reads are in flight and the hashing of one window overlaps the reads of
// the next; the calling thread takes the results in device order, so the
// first difference reported is the lowest one, and progress rises
// steadily.
class readback
{
public:
    readback(const char *path, const std::vector<piece> &pieces, direct_io *direct, int64_t align)
        : m_path(path), m_pieces(pieces), m_direct(direct), m_image(XXH3_createState())
    {
        // Windows as large as the copy memory allows, cut into SLOTS, but
        // not so large that a slow card keeps a cancel waiting for long.
        m_size = std::clamp<int64_t>(BUFFER_SIZE / SLOTS / PIECE_GRAIN * PIECE_GRAIN, 2 * PIECE_GRAIN, WINDOW_MAX);
        m_stride = static_cast<size_t>(m_size + align);
        m_windows = plan_windows(pieces, align, m_size);
        m_results.resize(m_windows.size());
    }

    int run(const std::function<void(int, int64_t, int64_t)> &progress, int64_t *firstBad)
    {
        const auto mem = aligned_buffer(SLOTS * m_stride);
        if (!mem)
            return -ENOMEM;
        m_mem = mem.get();
        int64_t total = 0, checked = 0;
        for (const piece &p : m_pieces)
            total += p.len;
        std::vector<std::thread> readers;
        for (int i = 0; i < std::min<int>(READERS, static_cast<int>(m_windows.size())); ++i)
            readers.emplace_back([this] { reader(); });
        int shown = -1, rc = 0;
        XXH3_64bits_reset(m_image.get());
        for (size_t k = 0; k < m_windows.size() && rc == 0; ++k) {
            {
                std::unique_lock<std::mutex> lk(m_mu);
                m_cv.wait(lk, [&] { return m_results[k].done; });
                rc = m_results[k].rc;
            }
            if (rc == WRITE_VERIFY_MISMATCH && firstBad)
                *firstBad = m_results[k].bad;
            if (rc == 0 && stream_cancel_requested())
                rc = MMC_COPY_CANCELLED;
            const window &w = m_windows[k];
            // The window's slot is still this window's until it counts as
            // consumed.
            for (size_t i = w.first; rc == 0 && i < w.last; ++i) {
                XXH3_64bits_update(m_image.get(), slot(k) + (m_pieces[i].off - w.lo), static_cast<size_t>(m_pieces[i].len));
                checked += m_pieces[i].len;
            }
            {
                std::lock_guard<std::mutex> lk(m_mu);
                ++m_consumed;
            }
            m_cv.notify_all();
            if (rc != 0)
                break;
            const int pct = static_cast<int>(checked * 100 / total);
            if (pct != shown && progress) {
                shown = pct;
                progress(pct, checked, total);
            }
        }
        {
            std::lock_guard<std::mutex> lk(m_mu);
            m_stop = true;
        }
        m_cv.notify_all();
        for (std::thread &t : readers)
            t.join();
        return rc;
    }

    // Hash of every piece in device order, valid after run() returned 0.
    uint64_t image_hash() const { return XXH3_64bits_digest(m_image.get()); }

private:
    void reader()
    {
        while (true) {
            size_t k;
            {
                std::unique_lock<std::mutex> lk(m_mu);
                // Window k goes into the slot of window k - SLOTS, free once
                // that one's result was taken.
                m_cv.wait(lk, [&] { return m_stop || m_next >= m_windows.size() || m_next < m_consumed + SLOTS; });
                if (m_stop || m_next >= m_windows.size())
                    return;
                k = m_next++;
            }
            window_result r = stream_cancel_requested() ? window_result{true, MMC_COPY_CANCELLED, -1} : check(k);
            r.done = true;
            {
                std::lock_guard<std::mutex> lk(m_mu);
                m_results[k] = r;
            }
            m_cv.notify_all();
        }
    }

    window_result check(size_t k)
    {
        const window &w = m_windows[k];
        uint8_t *buf = slot(k);
        const int64_t got = m_direct ? m_direct->read(buf, w.lo, w.end - w.lo) : pread_full(mmc_fd, buf, w.lo, w.end - w.lo);
        if (got < w.end - w.lo) {
            log2file("verify: cannot read %lld bytes at %lld of %s (got %lld)\n", (long long)(w.end - w.lo),
                     (long long)w.lo, m_path, (long long)got);
            return {true, got < 0 ? -EIO : -ENODATA, -1};
        }
        for (size_t i = w.first; i < w.last; ++i) {
            const piece &p = m_pieces[i];
            if (XXH3_64bits(buf + (p.off - w.lo), static_cast<size_t>(p.len)) != p.hash) {
                log2file("verify: %s differs from the written data in %lld bytes at %lld\n", m_path,
                         (long long)p.len, (long long)p.off);
                return {true, WRITE_VERIFY_MISMATCH, p.off};
            }
        }
        return {};
    }

    uint8_t *slot(size_t k) const { return m_mem + (k % SLOTS) * m_stride; }

    const char *m_path;
    const std::vector<piece> &m_pieces;
    direct_io *m_direct;
    state_ptr m_image;
    int64_t m_size = 0;
    size_t m_stride = 0;
    std::vector<window> m_windows;
    uint8_t *m_mem = nullptr;

    std::mutex m_mu;
    std::condition_variable m_cv;
    std::vector<window_result> m_results;
    size_t m_next = 0;       // next window a reader takes
    size_t m_consumed = 0;   // windows whose result the caller took
    bool m_stop = false;
};

} // namespace

int write_verify_readback(const char *path, const std::function<void(int, int64_t, int64_t)> &progress,
                          int64_t *firstBad)
{
    g_record.close_piece();
    // A writer that puts pieces on the device as they are ready (the blocks
    // of an xz image) records them out of order; the read-back, and the
    // image's hash taken from it, go in device order.
    std::stable_sort(g_record.pieces.begin(), g_record.pieces.end(),
                     [](const piece &a, const piece &b) { return a.off < b.off; });
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
    readback r(path, pieces, direct.get(), direct ? direct->align() : 4096);
    const int rc = r.run(progress, firstBad);
    if (rc == 0) {
        g_record.imageHash = r.image_hash();
        g_record.imageHashed = true;
    }
    return rc;
}
