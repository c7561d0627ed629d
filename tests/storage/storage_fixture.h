// Common set-up of the storage tests: a fresh layer state per test, a small
// copy chunk, a simulation root holding the log, and recording sinks.
#pragma once

#include "storage/mmc.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
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

    testsupport::TempDir m_dir;
    std::vector<ProgressCall> m_progress;
    std::vector<SpeedCall> m_speed;

private:
    std::vector<FILE *> m_files;
};

// Percent values seen by the progress sink.
std::vector<int> percents(const std::vector<ProgressCall> &calls);
// Bytes of a whole file.
std::vector<uint8_t> fileBytes(const std::string &path);
// True when `path` holds only zero bytes in [offset, offset + len).
bool allZero(const std::string &path, uint64_t offset, uint64_t len);
