// Device access: open/release, positioned reads and writes, discard,
// partition re-read and capacity. A regular file serves as a device: the
// ioctls it cannot answer are logged and the call goes on where that is
// harmless.
#include "storage/mmc.h"
#include "util/log2file.h"
#include "util/paths.h"

#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

int mmc_fd = -1;

static constexpr int64_t DISCARD_PIECE = 0x8000000;   // 128 MiB

static std::string resolve(const char *path)
{
    return imgsmith::sysPath(path ? path : "");
}

// access(F_OK) first so that a missing device is told apart from one that
// exists but cannot be opened.
static int check_access(const std::string &path)
{
    if (access(path.c_str(), F_OK) != 0) {
        const int err = errno;
        log2file("cannot access file (%s).\n", path.c_str());
        return -err;
    }
    return 0;
}

int mmc_open(const char *path)
{
    const std::string p = resolve(path);
    int ret = check_access(p);
    if (ret < 0)
        return ret;
    const int fd = open(p.c_str(), O_RDWR | O_LARGEFILE | O_CLOEXEC);
    if (fd < 0) {
        log2file("cannot open file (%s), errno=%d\n", p.c_str(), errno);
        return -1;
    }
    if (mmc_fd >= 0)   // a second open without release: do not leak the first
        close(mmc_fd);
    mmc_fd = fd;
    return fd;
}

int mmc_release(void)
{
    if (mmc_fd < 1)
        return 0;
    int ret = 0;
    if (fdatasync(mmc_fd) != 0) {
        log2file("\t\tfdatasync failed, errno=%d\n", errno);
        ret = -EIO;
    }
    if (ioctl(mmc_fd, BLKFLSBUF, 0) != 0)
        log2file("\t\tmmc_blkfls_buf failed\n");
    if (close(mmc_fd) != 0) {
        log2file("\t\tclose failed, errno=%d\n", errno);
        ret = -EIO;
    }
    mmc_fd = -1;
    return ret;
}

int64_t mmc_read(const char *path, int64_t offset, int64_t length, void *buf)
{
    const std::string p = resolve(path);
    int ret = check_access(p);
    if (ret < 0)
        return ret;
    if (length < 0 || offset < 0 || (length > 0 && !buf))
        return -1;
    const int fd = open(p.c_str(), O_RDONLY | O_LARGEFILE | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        log2file("cannot open file (%s), errno=%d\n", p.c_str(), errno);
        return -1;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISBLK(st.st_mode))) {
        log2file("not a regular file or block device (%s)\n", p.c_str());
        close(fd);
        return -1;
    }
    if (lseek64(fd, offset, SEEK_SET) < 0) {
        log2file("cannot seek file (%s, %lld), errno=%d\n", p.c_str(), (long long)offset, errno);
        close(fd);
        return -1;
    }
    // A short read is only accepted at the end of the file; interrupted or
    // partial reads of a device are continued.
    int64_t done = 0;
    char *out = static_cast<char *>(buf);
    while (done < length) {
        const ssize_t n = read(fd, out + done, static_cast<size_t>(length - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            log2file("cannot read file (%s, %lld), errno=%d\n", p.c_str(), (long long)(offset + done), errno);
            close(fd);
            return -1;
        }
        if (n == 0)
            break;
        done += n;
    }
    if (close(fd) != 0)
        return -1;
    return done;
}

int64_t mmc_write(const char *path, int64_t offset, int64_t length, const void *buf)
{
    if (mmc_fd < 0 || offset < 0 || length < 0 || (length > 0 && !buf)) {
        log2file("cannot write file (%s, %lld): device not open or bad arguments\n", path ? path : "",
                 (long long)offset);
        return -1;
    }
    if (lseek64(mmc_fd, offset, SEEK_SET) < 0) {
        log2file("cannot seek file (%s, %lld), errno=%d\n", path ? path : "", (long long)offset, errno);
        return -1;
    }
    // One write per call in the normal case; a partial write (full disk,
    // failing card) is continued, and a write that makes no progress fails
    // the call instead of passing as success.
    int64_t done = 0;
    const char *in = static_cast<const char *>(buf);
    while (done < length) {
        const ssize_t n = write(mmc_fd, in + done, static_cast<size_t>(length - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int err = n < 0 ? errno : ENOSPC;
            log2file("cannot write file (%s, %lld), written %lld of %lld, errno=%d\n", path ? path : "",
                     (long long)offset, (long long)done, (long long)length, err);
            return -err;
        }
        done += n;
    }
    return length;
}

int mmc_discard(const char *path, int64_t start, int64_t length, const char *name, int a, int b,
                const mmc_discard_callback &callback)
{
    (void)path;
    const char *label = name ? name : "";
    const int64_t start0 = start, length0 = length;
    const int32_t pieces = static_cast<int32_t>(length >> 27);
    int ret = 0;
    int lastPct = 0;
    for (int32_t i = 0; i < pieces; ++i) {
        uint64_t range[2] = {static_cast<uint64_t>(start), static_cast<uint64_t>(DISCARD_PIECE)};
        ret = ioctl(mmc_fd, BLKDISCARD, range);
        if (ret != 0) {
            ret = -errno;
            log2file("\t\t[%s] ioctl BLKDISCARD failed, start: %lld,  len: %lld \n", label, (long long)start0,
                     (long long)length0);
            break;
        }
        start += DISCARD_PIECE;
        length -= DISCARD_PIECE;
        lastPct = static_cast<int>(static_cast<float>(i) * 100.0f / static_cast<float>(pieces));
        if (callback)
            callback(name, a, b, 0, lastPct);
    }
    if (lastPct > 0 && callback)
        callback(name, a, b, 0, 100);
    if (length >= 1) {
        uint64_t range[2] = {static_cast<uint64_t>(start), static_cast<uint64_t>(length)};
        ret = ioctl(mmc_fd, BLKDISCARD, range);
        if (ret != 0) {
            ret = -errno;
            log2file("\t\t[%s] ioctl BLKDISCARD failed, start: %lld,  len: %lld \n", label, (long long)start0,
                     (long long)length0);
        }
    }
    log2file("\t\t[%s] mmc_discard finish, ret=%d, start: %lld,  len: %lld \n", label, ret, (long long)start0,
             (long long)length0);
    if (callback)
        callback(name, a, b, 1, 0);
    return ret;
}

int mmc_rrpart(const char *path)
{
    (void)path;
    if (ioctl(mmc_fd, BLKRRPART, 0) != 0)
        return -errno;
    return 0;
}

int64_t get_disk_capacity(const char *path, int *isBlockDevice, int *sectorSize)
{
    const std::string p = resolve(path);
    // Without blocking: a FIFO in place of the device must not hang the job.
    const int fd = open(p.c_str(), O_RDONLY | O_LARGEFILE | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        log2file("Fail, open %s\n", p.c_str());
        return -1;
    }
    uint64_t size = 0;
    int isBlock = 0;
    if (ioctl(fd, BLKGETSIZE64, &size) == 0) {
        isBlock = 1;
        if (sectorSize) {
            int ss = 0;
            if (ioctl(fd, BLKSSZGET, &ss) == 0)
                *sectorSize = ss;
            else
                log2file("BLKSSZGET failed on %s, errno=%d\n", p.c_str(), errno);
        }
    } else {
        struct stat st;
        size = 0;
        if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
            size = static_cast<uint64_t>(st.st_size);
    }
    if (isBlockDevice)
        *isBlockDevice = isBlock;
    if (close(fd) != 0)
        return -1;
    return static_cast<int64_t>(size / 512);
}

int file_test(const char *name)
{
    if (!name)
        return -ENOENT;
    return check_access(resolve(name));
}

FILE *open_input_file(const char *path, int *err)
{
    int e = 0;
    FILE *fp = nullptr;
    // O_NONBLOCK so that opening a FIFO returns at once; it is cleared again
    // once the file is known to be one that never blocks.
    const int fd = path ? open(path, O_RDONLY | O_LARGEFILE | O_CLOEXEC | O_NONBLOCK) : -1;
    struct stat st;
    if (fd < 0) {
        e = path ? errno : ENOENT;
    } else if (fstat(fd, &st) != 0) {
        e = errno;
    } else if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) {
        e = EINVAL;
    } else if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0 || !(fp = fdopen(fd, "rb"))) {
        e = errno;
    }
    if (!fp && fd >= 0)
        close(fd);
    if (err)
        *err = e;
    return fp;
}

int same_file(const char *a, const char *b)
{
    struct stat sa, sb;
    if (!a || !b || stat(a, &sa) != 0 || stat(b, &sb) != 0)
        return 0;
    if (S_ISBLK(sa.st_mode) && S_ISBLK(sb.st_mode))
        return sa.st_rdev == sb.st_rdev;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}
