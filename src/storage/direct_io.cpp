#include "storage/direct_io.h"
#include "storage/copy_pipeline.h"
#include "util/log2file.h"
#include "util/paths.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace storage_internal {

namespace {
bool same_file(int a, int b)
{
    struct stat sa, sb;
    if (fstat(a, &sa) != 0 || fstat(b, &sb) != 0)
        return false;
    if (S_ISBLK(sa.st_mode) && S_ISBLK(sb.st_mode))
        return sa.st_rdev == sb.st_rdev;
    return S_ISREG(sa.st_mode) && S_ISREG(sb.st_mode) && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// Device offsets are kept on whole pages even where the device would take
// 512-byte sectors: a buffered head or tail then never shares a page with
// data that went around the page cache.
void alignment_of(int fd, int64_t &align, int64_t &memAlign)
{
    align = 4096;
    memAlign = 512;
    struct statx sx;
    if (statx(fd, "", AT_EMPTY_PATH, STATX_DIOALIGN, &sx) == 0 && (sx.stx_mask & STATX_DIOALIGN) &&
        sx.stx_dio_offset_align > 0) {
        align = std::max<int64_t>(align, sx.stx_dio_offset_align);
        memAlign = std::max<int64_t>(sx.stx_dio_mem_align, 1);
        return;
    }
    int lbs = 0;
    if (ioctl(fd, BLKSSZGET, &lbs) == 0 && lbs > 0) {
        align = std::max<int64_t>(align, lbs);
        memAlign = std::max<int64_t>(memAlign, lbs);
    }
}
} // namespace

std::unique_ptr<direct_io> direct_io::open(const char *path, int fd, bool forWrite, int writers)
{
    if (fd < 0 || !path)
        return nullptr;
    const std::string p = imgsmith::sysPath(path);
    const int dfd = ::open(p.c_str(), (forWrite ? O_WRONLY : O_RDONLY) | O_DIRECT | O_LARGEFILE | O_CLOEXEC);
    if (dfd < 0) {
        log2file("direct I/O not available on %s (errno=%d): buffered transfer\n", p.c_str(), errno);
        return nullptr;
    }
    if (!same_file(dfd, fd)) {
        log2file("%s is not the open device: buffered transfer\n", p.c_str());
        close(dfd);
        return nullptr;
    }
    int64_t align, memAlign;
    alignment_of(dfd, align, memAlign);
    std::unique_ptr<direct_io> d(new direct_io(dfd, fd, align, memAlign));
    for (int i = 0; i < writers; ++i)
        d->m_threads.emplace_back([raw = d.get()] { raw->worker(); });
    return d;
}

direct_io::direct_io(int fd, int fallbackFd, int64_t align, int64_t memAlign)
    : m_fd(fd), m_fallbackFd(fallbackFd), m_align(align), m_memAlign(memAlign)
{
}

direct_io::~direct_io()
{
    {
        std::lock_guard<std::mutex> lk(m_mu);
        m_quit = true;
    }
    m_cv.notify_all();
    for (std::thread &t : m_threads)
        t.join();
    close(m_fd);
}

bool direct_io::fits(const void *src, int64_t dst, int64_t len) const
{
    return m_usable && len > 0 && dst % m_align == 0 && len % m_align == 0 &&
           reinterpret_cast<uintptr_t>(src) % static_cast<uintptr_t>(m_memAlign) == 0;
}

int direct_io::write_piece(const piece &p, const char *path)
{
    int64_t done = 0;
    while (done < p.len) {
        // After a refused or odd-sized direct write the rest goes through
        // the page cache: same bytes, only slower.
        const bool direct = m_usable && done % m_align == 0;
        const ssize_t n = pwrite64(direct ? m_fd : m_fallbackFd, p.src + done, static_cast<size_t>(p.len - done),
                                   p.dst + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EINVAL && direct) {
            log2file("direct write refused at %lld on %s: buffered writes from here\n", (long long)(p.dst + done),
                     path ? path : "");
            m_usable = false;
            continue;
        }
        if (n <= 0) {
            const int err = n < 0 ? errno : ENOSPC;
            log2file("cannot write file (%s, %lld), written %lld of %lld, errno=%d\n", path ? path : "",
                     (long long)p.dst, (long long)done, (long long)p.len, err);
            return -err;
        }
        done += n;
    }
    return 0;
}

// Takes the next piece of the batch and writes it; called with the lock
// held, returns with it held.
void direct_io::run_one(std::unique_lock<std::mutex> &lk)
{
    const piece p = (*m_batch)[m_next++];
    const char *path = m_path;
    ++m_running;
    lk.unlock();
    const int rc = write_piece(p, path);
    lk.lock();
    --m_running;
    if (rc != 0 && m_error == 0) {
        // Nothing after the first failure is started.
        m_error = rc;
        m_next = m_batch->size();
    }
    m_cv.notify_all();
}

void direct_io::worker()
{
    std::unique_lock<std::mutex> lk(m_mu);
    while (true) {
        m_cv.wait(lk, [&] { return m_quit || (m_batch && m_next < m_batch->size()); });
        if (m_quit)
            return;
        keep_off_producer_cpu();
        run_one(lk);
    }
}

int direct_io::write_all(const std::vector<piece> &pieces, const char *path)
{
    if (pieces.empty())
        return 0;
    std::unique_lock<std::mutex> lk(m_mu);
    m_batch = &pieces;
    m_path = path;
    m_next = 0;
    m_error = 0;
    m_cv.notify_all();
    // The calling thread writes too: one thread fewer to wake.
    while (m_next < pieces.size())
        run_one(lk);
    m_cv.wait(lk, [&] { return m_running == 0; });
    m_batch = nullptr;
    return m_error;
}

int64_t pread_full(int fd, uint8_t *dst, int64_t off, int64_t len)
{
    int64_t got = 0;
    while (got < len) {
        const ssize_t r = pread64(fd, dst + got, static_cast<size_t>(len - got), off + got);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return -1;
        if (r == 0)
            break;
        got += r;
    }
    return got;
}

int64_t direct_io::read(uint8_t *dst, int64_t off, int64_t len)
{
    const int64_t whole = fits(dst, off, len / m_align * m_align) ? len / m_align * m_align : 0;
    int64_t got = whole > 0 ? pread_full(m_fd, dst, off, whole) : 0;
    if (got < 0 && errno == EINVAL) {
        log2file("direct read refused at %lld: buffered reads from here\n", (long long)off);
        m_usable = false;
        got = 0;
    }
    if (got < 0)
        return -1;
    const int64_t rest = pread_full(m_fallbackFd, dst + got, off + got, len - got);
    return rest < 0 ? -1 : got + rest;
}

} // namespace storage_internal
