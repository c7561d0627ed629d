// Common set-up of the storage tests: a fresh layer state per test, a small
// copy chunk, a simulation root holding the log, and recording sinks.
#pragma once

#include "storage/mmc.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <sys/resource.h>
#include <vector>

struct ProgressCall
{
    bool erasing;
    std::string image, partition;
    int percent, count, index;
};

struct SpeedCall
{
    std::string image, partition;
    int64_t done, total;
    double ms;
};

class StorageTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Paths inside the temporary directory, which is also the simulation
    // root (the log lands in <root>/tmp/imgsmith-gui.log).
    std::string file(const std::string &name) const { return m_dir.file(name); }
    std::string log() const;
    // Makes a block device usable below the root: <root>/dev/loopN -> /dev/loopN.
    std::string linkDevice(const std::string &dev);
    // Opens `path` for reading; closed at tear-down.
    FILE *openRead(const std::string &path);
    // Creates a zero-filled target file of `size` bytes (sparse on disk).
    std::string makeTarget(const std::string &name, uint64_t size);
    // Writes `data` to file(name) and returns its path.
    std::string put(const std::string &name, const std::vector<uint8_t> &data);
    std::string put(const std::string &name, const std::string &data);

    testsupport::TempDir m_dir;
    std::vector<ProgressCall> m_progress;
    std::vector<SpeedCall> m_speed;

private:
    std::vector<FILE *> m_files;
};

// Lowers the file size limit of the process while in scope, so that a write
// crossing it is cut short by the kernel (as a full card would).
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t limit);
    ~FileSizeLimit();

private:
    rlimit m_old;
    sighandler_t m_oldHandler;
};

// Percent values seen by the progress sink.
std::vector<int> percents(const std::vector<ProgressCall> &calls);
// Size of a file in bytes.
int64_t fileSize(const std::string &path);
// True when `path` holds only zero bytes in [offset, offset + len).
bool allZero(const std::string &path, uint64_t offset, uint64_t len);
// `cmp` of the first `n` bytes of `a` (from aOff) with `b` from `bOff`.
bool cmpEqual(const std::string &a, const std::string &b, int64_t n, int64_t bOff = 0, int64_t aOff = 0);
