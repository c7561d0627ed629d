// Writes a built-in IDB loader to a file, for image sets that bring none.
#include "storage/rkparm.h"

#include "storage/idbloader_builtin.h"
#include "util/log2file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

int gen_idbloader_img(const char *cpuName, const char *path)
{
    uint32_t len = 0;
    const unsigned char *data = idbloader_builtin_find(cpuName, &len);
    // Decided before the file is touched: an unsupported SoC leaves no
    // empty loader behind that a later step could mistake for a real one.
    if (!data || len == 0) {
        log2file("no built-in idbloader for %s\n", cpuName ? cpuName : "(null)");
        return -1;
    }
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        log2file("cannot create %s: %s\n", path, strerror(errno));
        return -2;
    }
    size_t done = 0;
    while (done < len) {
        const ssize_t n = write(fd, data + done, len - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    // A full file system may only show at fsync/close time.
    const bool ok = done == len && fsync(fd) == 0;
    if (close(fd) != 0 || !ok) {
        log2file("cannot write %s: %s\n", path, strerror(errno));
        return -3;
    }
    return 0;
}
