// Direct (O_DIRECT) access to the device opened by mmc_open, for the
// streamed copies (internal to the storage layer).
//
// A second descriptor of the same device or file, opened with O_DIRECT, so
// that image data bypasses the page cache: on a small board copying a
// 64 MiB chunk into the block device's cache costs more CPU than the card's
// write, and a long back-up would evict every other cached page. Several
// writer threads keep more than one write in flight, which a card or an
// SSD needs to reach its speed once nothing is buffered.
//
// Only whole aligned blocks from aligned memory go direct; the caller writes
// everything else (unaligned heads and tails) through mmc_fd. A file system
// that refuses direct I/O at open gives no direct_io at all, and one that
// refuses a write (EINVAL) turns the descriptor off: the piece and every
// later one go through mmc_fd instead, so no byte is lost.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace storage_internal {

class direct_io
{
public:
    // One write: len bytes from src to device offset dst.
    struct piece
    {
        const uint8_t *src;
        int64_t dst;
        int64_t len;
    };

    // Opens `path` (through the resolver) with O_DIRECT, read-write or
    // read-only, and keeps it only when it names the same device or file as
    // `fd` (the descriptor of mmc_open). `writers` threads serve write_all.
    // Returns null when direct I/O is not to be had; the reason is logged.
    static std::unique_ptr<direct_io> open(const char *path, int fd, bool forWrite, int writers);
    ~direct_io();
    direct_io(const direct_io &) = delete;
    direct_io &operator=(const direct_io &) = delete;

    // Device offsets and lengths must be multiples of this (bytes).
    int64_t align() const { return m_align; }
    // True when [dst, dst + len) from src may go direct.
    bool fits(const void *src, int64_t dst, int64_t len) const;
    // False once a write was refused: everything goes through mmc_fd.
    bool usable() const { return m_usable; }

    // Writes every piece (each fits()), several at once, and returns when
    // all are done: 0, or the negative errno of the first that failed.
    // `path` names the device in messages.
    int write_all(const std::vector<piece> &pieces, const char *path);
    // Reads len bytes at off into dst: the whole aligned blocks direct
    // when the range allows it, the rest through the fallback descriptor.
    // Returns the count read, smaller only at the end of the device, or -1.
    int64_t read(uint8_t *dst, int64_t off, int64_t len);

private:
    direct_io(int fd, int fallbackFd, int64_t align, int64_t memAlign);
    void worker();
    void run_one(std::unique_lock<std::mutex> &lk);
    int write_piece(const piece &p, const char *path);

    int m_fd;
    int m_fallbackFd;
    int64_t m_align;
    int64_t m_memAlign;
    std::atomic<bool> m_usable{true};

    std::mutex m_mu;
    std::condition_variable m_cv;
    std::vector<std::thread> m_threads;
    const std::vector<piece> *m_batch = nullptr;
    const char *m_path = nullptr;
    size_t m_next = 0;       // next piece of m_batch to take
    size_t m_running = 0;    // pieces taken and not finished
    int m_error = 0;
    bool m_quit = false;
};

// pread until len bytes are there, the end of the file, or an error (-1,
// errno kept); interrupted calls are repeated.
int64_t pread_full(int fd, uint8_t *dst, int64_t off, int64_t len);

} // namespace storage_internal
