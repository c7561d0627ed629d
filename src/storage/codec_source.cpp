#include "storage/codec_source.h"
#include "storage/gz_inflate.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
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

codec_input::codec_input(int fd, bool peek) : m_fd(fd), m_size(peek ? 64 * 1024 : 1 << 20)
{
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0 && static_cast<size_t>(st.st_size) < m_size)
        m_size = std::max<size_t>(static_cast<size_t>(st.st_size), 64);
    m_buf.reset(new (std::nothrow) uint8_t[m_size]);
    // The decoders are usually faster than the card: keep the kernel's
    // read-ahead in front of them.
    if (!peek)
        posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
}

codec_input::~codec_input()
{
    if (m_fd >= 0)
        close(m_fd);
}

int64_t codec_input::fill()
{
    ssize_t n;
    do {
        n = ::read(m_fd, m_buf.get(), m_size);
    } while (n < 0 && errno == EINTR);
    return n;
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
