// Raw sector access to the boot device for the main controller (vendor
// storage), independent of the install job's device and stream state.
#include "storage/rkimage.h"

#include "util/log2file.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// Loops over partial transfers so that the count returned is all or an
// error, never a silent short read or write in the middle of the range.
int64_t transfer(int fd, int64_t length, void *buf, bool writing)
{
    char *p = static_cast<char *>(buf);
    int64_t done = 0;
    while (done < length) {
        const ssize_t n = writing ? write(fd, p + done, static_cast<size_t>(length - done))
                                  : read(fd, p + done, static_cast<size_t>(length - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return done > 0 ? done : -1;
        }
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

} // namespace

int global_mmc_open(const char *path)
{
    if (access(path, F_OK) != 0) {
        const int e = errno;
        log2file("cannot access file (%s).\n", path);
        return -e;
    }
    const int fd = open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0)
        log2file("cannot open file (%s), errno=%d\n", path, errno);
    return fd < 0 ? -1 : fd;
}

int64_t global_mmc_write(int fd, const char *path, int64_t offset, int64_t length, const void *buf)
{
    if (lseek(fd, offset, SEEK_SET) != offset) {
        log2file("cannot seek file (%s, %lld), errno=%d\n", path, static_cast<long long>(offset), errno);
        return -1;
    }
    return transfer(fd, length, const_cast<void *>(buf), true);
}

int64_t global_mmc_read(const char *path, int64_t offset, int64_t length, void *buf)
{
    if (access(path, F_OK) != 0) {
        const int e = errno;
        log2file("cannot access file (%s).\n", path);
        return -e;
    }
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        log2file("cannot open file (%s), errno=%d\n", path, errno);
        return -1;
    }
    int64_t r = -1;
    if (lseek(fd, offset, SEEK_SET) != offset)
        log2file("cannot seek file (%s, %lld), errno=%d\n", path, static_cast<long long>(offset), errno);
    else
        r = transfer(fd, length, buf, false);
    if (close(fd) != 0 && r >= 0)
        r = -1;
    return r;
}

int global_mmc_blkfls_buf(int fd)
{
    const int r = ioctl(fd, BLKFLSBUF, 0);
    if (r != 0)
        log2file("\t\tmmc_blkfls_buf failed\n");
    return r;
}

int global_mmc_release(int fd)
{
    if (fd < 1)
        return 0;
    int r = 0;
    if (fdatasync(fd) != 0)
        r = -1;
    global_mmc_blkfls_buf(fd);   // regular files refuse it; logged only
    if (close(fd) != 0)
        r = -1;
    return r;
}
