// A small in-memory target device for the writer fuzzers: a memfd filled
// with a guard pattern, opened as the device, and a check that nothing was
// written outside the one partition the writer was given.
#pragma once

#include "storage/mmc.h"

#include <cstdint>
#include <fcntl.h>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fuzzdev {

constexpr int64_t DEVICE = 256 * 1024;
constexpr int64_t OFFSET = 64 * 1024;
constexpr int64_t PART = 128 * 1024;

// Log records go nowhere: a simulation root whose only entry is a link to
// /proc (where the device is found) has no tmp directory, so the log's
// open fails at once instead of growing a file with every input.
inline void quiet_log()
{
    static char root[] = "/tmp/imgsmith-fuzz-root-XXXXXX";
    if (!mkdtemp(root) || symlink("/proc", (std::string(root) + "/proc").c_str()) != 0)
        abort();
    setenv("IMGSMITH_ROOT", root, 1);
}

// Quiet log and the smallest copy buffers, so every input is cheap.
inline int init()
{
    quiet_log();
    BUFFER_SIZE = 4096;
    return 0;
}

class device
{
public:
    device() : m_fd(memfd_create("target", 0)), m_path("/proc/self/fd/" + std::to_string(m_fd)),
               m_guard(DEVICE, 0xA5), m_after(DEVICE)
    {
        if (m_fd < 0)
            abort();
    }
    const char *path() const { return m_path.c_str(); }
    // Refills the device with the guard and opens it as mmc_fd.
    bool open()
    {
        if (ftruncate(m_fd, 0) != 0 || pwrite(m_fd, m_guard.data(), DEVICE, 0) != DEVICE)
            return false;
        return mmc_open(m_path.c_str()) >= 0;
    }
    // Releases the device and traps when a byte outside the partition moved.
    void check()
    {
        mmc_release();
        struct stat st;
        if (fstat(m_fd, &st) != 0 || st.st_size != DEVICE || pread(m_fd, m_after.data(), DEVICE, 0) != DEVICE)
            __builtin_trap();
        if (memcmp(m_after.data(), m_guard.data(), OFFSET) != 0 ||
            memcmp(m_after.data() + OFFSET + PART, m_guard.data(), DEVICE - OFFSET - PART) != 0)
            __builtin_trap();
    }

private:
    int m_fd;
    std::string m_path;
    std::vector<uint8_t> m_guard;
    std::vector<uint8_t> m_after;
};

// The input as a file the writers can read through a descriptor, in memory.
class input
{
public:
    input() : m_fd(memfd_create("input", 0)) {}
    FILE *open(const uint8_t *data, size_t size, const char *mode = "rb")
    {
        if (m_fd < 0 || ftruncate(m_fd, 0) != 0 || pwrite(m_fd, data, size, 0) != ssize_t(size))
            return nullptr;
        // A description of its own: a dup() would share the last input's
        // file position.
        const std::string path = "/proc/self/fd/" + std::to_string(m_fd);
        const int fd = ::open(path.c_str(), mode[0] == 'w' ? O_RDWR : O_RDONLY);
        FILE *fp = fd >= 0 ? fdopen(fd, mode) : nullptr;
        if (!fp && fd >= 0)
            close(fd);
        return fp;
    }

private:
    int m_fd;
};

} // namespace fuzzdev
