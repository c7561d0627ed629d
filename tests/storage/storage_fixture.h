// Storage tests: a simulation root, a small copy chunk, recording sinks.
#pragma once

#include "storage/mmc.h"
#include "support/simroot.h"

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
    int64_t done, total;
    double ms;
};

class StorageTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    std::string file(const std::string &name) const { return m_root.file(name); }
    std::string log() const { return m_root.log(); }
    // Makes a block device usable below the root: <root>/dev/loopN -> /dev/loopN.
    std::string linkDevice(const std::string &dev);
    // Opens `path` for reading; closed at tear-down.
    FILE *openRead(const std::string &path);
    // Creates a zero-filled target file of `size` bytes (sparse on disk).
    std::string makeTarget(const std::string &name, uint64_t size);
    template <class T> std::string put(const std::string &name, const T &data) { return m_root.put(name, data); }

    testsupport::SimRoot m_root;
    std::vector<ProgressCall> m_progress;
    std::vector<SpeedCall> m_speed;

private:
    std::vector<FILE *> m_files;
};

// A file size limit while in scope: writes crossing it come back short.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t limit);
    ~FileSizeLimit();

private:
    rlimit m_old;
    sighandler_t m_oldHandler;
};

std::vector<int> percents(const std::vector<ProgressCall> &calls);
