#include "storage/codec_source.h"
#include "storage/copy_pipeline.h"
#include "storage/gz_inflate.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace storage_internal {

std::unique_ptr<codec_source> codec_source_open(image_compression kind, int fd, bool peek)
{
    switch (kind) {
    case IMAGE_GZIP:
        // The peek needs a few bytes: small buffers, not the copy's megabytes.
        if (peek)
            return gz_source_zlib(fd, 64 * 1024);
        return gz_source::open(fd);
    case IMAGE_XZ:
        return xz_source_open(fd, peek);
    case IMAGE_ZSTD:
        return zstd_source_open(fd, peek);
    case IMAGE_RAW:
        break;
    }
    if (fd >= 0)
        close(fd);
    return nullptr;
}

// Counts, not flags: piece k % PIECES holds the k-th read. The decoder
// holds piece `taken - 1` until its next fill(), which releases it.
struct codec_input::ahead
{
    static constexpr unsigned PIECES = 3;
    std::mutex mu;
    std::condition_variable cv;
    int64_t len[PIECES] = {};
    uint64_t filled = 0, taken = 0, released = 0;
    bool stop = false;
    std::thread thread;
};

codec_input::codec_input(int fd, bool peek, size_t piece)
    : m_fd(fd), m_size(piece ? piece : peek ? 64 * 1024 : 1 << 20)
{
    struct stat st;
    const bool small =
        fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0 && static_cast<size_t>(st.st_size) < m_size;
    if (small)
        m_size = std::max<size_t>(static_cast<size_t>(st.st_size), 64);
    const bool readAhead = !peek && !small;
    m_buf.reset(new (std::nothrow) uint8_t[m_size * (readAhead ? ahead::PIECES : 1)]);
    m_cur = m_buf.get();
    // The decoders are usually faster than the card: keep the kernel's
    // read-ahead in front of them.
    if (!peek)
        posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    if (!readAhead || !m_buf)
        return;
    m_ahead.reset(new ahead);
    ahead &a = *m_ahead;
    a.thread = std::thread([this, &a] {
        while (true) {
            uint64_t k;
            {
                std::unique_lock<std::mutex> lk(a.mu);
                a.cv.wait(lk, [&] { return a.stop || a.filled - a.released < ahead::PIECES; });
                if (a.stop)
                    return;
                k = a.filled % ahead::PIECES;
            }
            keep_off_producer_cpu();
            const int64_t n = read_piece(m_buf.get() + k * m_size);
            std::lock_guard<std::mutex> lk(a.mu);
            a.len[k] = n;
            ++a.filled;
            a.cv.notify_all();
            if (n <= 0)
                return;
        }
    });
}

codec_input::~codec_input()
{
    if (m_ahead) {
        {
            std::lock_guard<std::mutex> lk(m_ahead->mu);
            m_ahead->stop = true;
        }
        m_ahead->cv.notify_all();
        m_ahead->thread.join();
    }
    if (m_fd >= 0)
        close(m_fd);
}

int64_t codec_input::read_piece(uint8_t *to)
{
    ssize_t n;
    do {
        n = ::read(m_fd, to, m_size);
    } while (n < 0 && errno == EINTR);
    return n;
}

int64_t codec_input::fill()
{
    if (!m_ahead)
        return read_piece(m_buf.get());
    ahead &a = *m_ahead;
    std::unique_lock<std::mutex> lk(a.mu);
    a.released = a.taken;
    a.cv.notify_all();
    a.cv.wait(lk, [&] { return a.filled > a.taken; });
    const uint64_t k = a.taken % ahead::PIECES;
    // The end and a read error stay: the reading thread has stopped.
    if (a.len[k] <= 0)
        return a.len[k];
    ++a.taken;
    m_cur = m_buf.get() + k * m_size;
    return a.len[k];
}

} // namespace storage_internal

image_compression image_compression_of(const char *name)
{
    const size_t len = name ? strlen(name) : 0;
    const auto ends = [&](const char *suffix) {
        const size_t n = strlen(suffix);
        return len >= n && memcmp(name + len - n, suffix, n) == 0;
    };
    if (ends(".gz"))
        return IMAGE_GZIP;
    if (ends(".xz"))
        return IMAGE_XZ;
    if (ends(".zst"))
        return IMAGE_ZSTD;
    return IMAGE_RAW;
}

const char *image_compression_name(image_compression kind)
{
    switch (kind) {
    case IMAGE_GZIP:
        return "gzip";
    case IMAGE_XZ:
        return "xz";
    case IMAGE_ZSTD:
        return "zstd";
    case IMAGE_RAW:
        break;
    }
    return "raw";
}
