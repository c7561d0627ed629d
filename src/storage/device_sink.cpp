// Device writes and reads of the streamed copies: direct I/O for whole
// aligned blocks, the page cache for the rest, kernel zeroing where it pays.
#include "storage/copy_pipeline.h"
#include "storage/mmc.h"
#include "util/log2file.h"
#include "util/paths.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <linux/falloc.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace storage_internal {

namespace {
// Writer threads beside the calling one: four direct writes in flight keep
// a card, an eMMC or an SSD busy without queueing more than a slot.
constexpr int DIRECT_WRITERS = 3;

// Whether the block device's queue zeroes without being sent the zeros. A
// partition has no queue of its own: its disk's is one level up.
bool queue_can_zero(dev_t rdev)
{
    char base[64];
    snprintf(base, sizeof base, "/sys/dev/block/%u:%u", major(rdev), minor(rdev));
    for (const char *rel : {"/queue/write_zeroes_max_bytes", "/../queue/write_zeroes_max_bytes"}) {
        std::ifstream in(imgsmith::sysPath(std::string(base) + rel));
        unsigned long long v = 0;
        if (in >> v)
            return v > 0;
    }
    return false;
}

int64_t align_up(int64_t v, int64_t a)
{
    return (v + a - 1) / a * a;
}
} // namespace

device_sink::device_sink(const char *path) : m_path(path)
{
    write_record_sink_active(true);
    struct stat st;
    if (fstat(mmc_fd, &st) == 0) {
        if (S_ISBLK(st.st_mode))
            m_zeroKind = queue_can_zero(st.st_rdev) ? 1 : 0;
        else if (S_ISREG(st.st_mode))
            m_zeroKind = 2;
    }
    m_direct = direct_io::open(path, mmc_fd, true, DIRECT_WRITERS);
    if (m_direct) {
        const int64_t a = m_direct->align();
        m_pieceSize = std::max<int64_t>(a, static_cast<int64_t>(stream_buffer_size() / 4) / a * a);
    }
}

device_sink::~device_sink()
{
    write_record_sink_active(false);
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

// The producer's verdict on the grain at p where it gave one; a fresh look
// otherwise.
bool device_sink::zero_grain(const uint8_t *p) const
{
    if (!m_chunk)
        return is_zero(p, ZERO_GRAIN);
    const std::vector<uint8_t> &known = m_chunk->zero_grains;
    const size_t at = static_cast<size_t>(p - m_chunk->buf);
    if (p >= m_chunk->buf && at % ZERO_GRAIN == 0 && at / ZERO_GRAIN < known.size())
        return known[at / ZERO_GRAIN] != 0;
    return is_zero(p, ZERO_GRAIN);
}

int device_sink::write_buffered(const uint8_t *src, int64_t dst, int64_t len)
{
    const int64_t rc = mmc_write(m_path, dst, len, src);
    if (rc != len)
        return rc < 0 ? static_cast<int>(rc) : -EIO;
    m_bufLo = m_bufHi < 0 ? dst : std::min(m_bufLo, dst);
    m_bufHi = std::max(m_bufHi, dst + len);
    return 0;
}

// Queues the aligned middle of a run for direct writing and writes its
// unaligned ends (or all of it, when the memory is not aligned the way the
// device wants) through the page cache at once.
int device_sink::write_data(const uint8_t *src, int64_t dst, int64_t len)
{
    if (m_direct && m_direct->usable()) {
        const int64_t a = m_direct->align();
        const int64_t lo = align_up(dst, a), hi = (dst + len) / a * a;
        if (hi > lo && m_direct->fits(src + (lo - dst), lo, hi - lo)) {
            int rc = lo > dst ? write_buffered(src, dst, lo - dst) : 0;
            if (rc == 0 && dst + len > hi)
                rc = write_buffered(src + (hi - dst), hi, dst + len - hi);
            for (int64_t at = lo; rc == 0 && at < hi; at += m_pieceSize)
                m_pieces.push_back({src + (at - dst), at, std::min(m_pieceSize, hi - at)});
            return rc;
        }
    }
    return write_buffered(src, dst, len);
}

// Zeroes the held run, or writes it as zeros when the kernel refuses.
int device_sink::release_zeros()
{
    if (m_heldLen == 0)
        return 0;
    const int64_t from = m_heldFrom, len = m_heldLen;
    m_heldLen = 0;
    if (zero_range(from, len))
        return 0;
    if (!m_zeros) {
        void *p = nullptr;
        if (posix_memalign(&p, 4096, ZERO_GRAIN) != 0)
            return -ENOMEM;
        memset(p, 0, ZERO_GRAIN);
        m_zeros.reset(static_cast<uint8_t *>(p));
    }
    return write_range(m_zeros.get(), from, len, ZERO_GRAIN);
}

// Zeroes a zero run of the current chunk, holding it back when it may be
// continued by the next chunk.
int device_sink::zero_run(int64_t dst, int64_t len, bool atEnd)
{
    if (m_heldLen > 0 && m_heldFrom + m_heldLen == dst) {
        m_heldLen += len;
    } else {
        const int rc = release_zeros();
        if (rc != 0)
            return rc;
        m_heldFrom = dst;
        m_heldLen = len;
    }
    return m_holdZeros && atEnd ? 0 : release_zeros();
}

// Writes len bytes at dst from data (a pattern of patternLen bytes repeated
// when patternLen < len), zeroing zero runs of whole MiBs instead.
int device_sink::write_range(const uint8_t *data, int64_t dst, int64_t len, size_t patternLen)
{
    const bool pattern = static_cast<int64_t>(patternLen) < len;
    const bool aligned = dst % 4096 == 0;
    if (pattern) {
        const int rc = release_zeros();
        if (rc != 0)
            return rc;
    }
    if (pattern && aligned && m_zeroKind != 0 && len >= ZERO_GRAIN && len % 4096 == 0 &&
        is_zero(data, patternLen) && zero_range(dst, len))
        return 0;
    int64_t done = 0;
    while (done < len) {
        int64_t n = std::min<int64_t>(len - done, pattern ? static_cast<int64_t>(patternLen) : ZERO_GRAIN);
        const uint8_t *src = pattern ? data : data + done;
        if (!pattern && aligned && m_zeroKind != 0 && n == ZERO_GRAIN && zero_grain(src)) {
            // Gather the whole zero run, then zero it in one request.
            int64_t run = n;
            while (done + run + ZERO_GRAIN <= len && zero_grain(data + done + run))
                run += ZERO_GRAIN;
            const int rc = zero_run(dst + done, run, done + run == len);
            if (rc != 0)
                return rc;
            done += run;
            continue;
        }
        if (!pattern) {
            // Data up to the next zero MiB goes out in one run.
            while (done + n < len) {
                const int64_t next = std::min<int64_t>(len - done - n, ZERO_GRAIN);
                if (aligned && m_zeroKind != 0 && next == ZERO_GRAIN && zero_grain(data + done + n))
                    break;
                n += next;
            }
        }
        int rc = release_zeros();
        if (rc == 0)
            rc = write_data(src, dst + done, n);
        if (rc != 0)
            return rc;
        done += n;
    }
    return 0;
}

int device_sink::write_chunk(const pipe_chunk &c)
{
    m_chunk = &c;
    m_pieces.clear();
    m_bufHi = -1;
    // Data segments that continue each other in the buffer and on the device
    // (a sparse image's raw chunks and the small fills between them) are one
    // run: one write instead of many small ones.
    for (size_t i = 0; i < c.segs.size();) {
        pipe_segment seg = c.segs[i++];
        while (seg.buf_length == static_cast<size_t>(seg.length) && i < c.segs.size() &&
               c.segs[i].buf_length == static_cast<size_t>(c.segs[i].length) &&
               c.segs[i].dst_offset == seg.dst_offset + seg.length &&
               c.segs[i].buf_offset == seg.buf_offset + seg.buf_length) {
            seg.length += c.segs[i].length;
            seg.buf_length += c.segs[i].buf_length;
            ++i;
        }
        const int rc = write_range(c.buf + seg.buf_offset, seg.dst_offset, seg.length, seg.buf_length);
        if (rc != 0)
            return rc;
    }
    return flush_chunk();
}

int device_sink::finish()
{
    m_chunk = nullptr;
    m_pieces.clear();
    m_bufHi = -1;
    const int rc = release_zeros();
    return rc != 0 ? rc : flush_chunk();
}

// Writes the queued direct pieces and starts the write-back of what went
// through the page cache.
int device_sink::flush_chunk()
{
    // The page-cache writes are done before any direct one starts:
    // a buffered head and a direct block never race for one page.
    if (!m_pieces.empty()) {
        const int rc = m_direct->write_all(m_pieces, m_path);
        if (rc != 0)
            return rc;
        // Pieces that a refused direct write sent through the page cache are
        // written back early like the rest of the buffered bytes.
        if (!m_direct->usable()) {
            const direct_io::piece &last = m_pieces.back();
            m_bufLo = m_bufHi < 0 ? m_pieces.front().dst : std::min(m_bufLo, m_pieces.front().dst);
            m_bufHi = std::max(m_bufHi, last.dst + last.len);
        }
    }
    if (m_bufHi < 0)
        return 0;
    // Start write-back of what went through the cache, then wait for the
    // previous chunk's: the device stays busy while dirty memory stays near
    // two chunks, and the final flush in mmc_release finds little left.
    // Errors here are not fatal: fdatasync at release reports what did not
    // reach the device.
    sync_file_range(mmc_fd, m_bufLo, m_bufHi - m_bufLo, SYNC_FILE_RANGE_WRITE);
    if (m_prevEnd > m_prevStart)
        sync_file_range(mmc_fd, m_prevStart, m_prevEnd - m_prevStart,
                        SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
    m_prevStart = m_bufLo;
    m_prevEnd = m_bufHi;
    return 0;
}

// Only a block device is read around the page cache: a regular file
// standing in for one is, on a simulated board or in a benchmark, most
// likely cached already, and reading it from the disk again would be
// slower for nothing.
device_source::device_source(const char *path)
{
    struct stat st;
    if (fstat(mmc_fd, &st) == 0 && S_ISBLK(st.st_mode))
        m_direct = direct_io::open(path, mmc_fd, false, 0);
}

device_source::~device_source() = default;

int64_t device_source::read(uint8_t *dst, int64_t off, int64_t len)
{
    return m_direct ? m_direct->read(dst, off, len) : pread_full(mmc_fd, dst, off, len);
}

} // namespace storage_internal
