// Helpers shared by the test executables: temporary directories, running
// independent tools, loop devices. No Qt, so storage tests can use them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// A fresh directory under $TMPDIR (or /tmp), removed with its contents when
// the object goes out of scope.
class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return m_path; }
    std::string file(const std::string &name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

struct CmdResult
{
    int status = -1;        // exit status, or -1 when the command did not exit normally
    std::string out;        // standard output
    std::string err;        // standard error
};

// Runs a command line with /bin/sh -c and captures both outputs.
CmdResult run(const std::string &cmdline);

// Quotes a string for /bin/sh.
std::string shq(const std::string &s);

// True when `name` is an executable found in PATH.
bool haveTool(const std::string &name);

std::string readFile(const std::string &path);
void writeFile(const std::string &path, const std::string &data);
std::vector<uint8_t> readBytes(const std::string &path, uint64_t offset, size_t len);
void writeBytes(const std::string &path, uint64_t offset, const std::vector<uint8_t> &data);
// Creates (or truncates) a sparse file of the given size.
void makeSparseFile(const std::string &path, uint64_t size);
// Deterministic pseudo-random bytes.
std::vector<uint8_t> patternBytes(size_t len, uint32_t seed);

// Loop devices need root and /dev/loop-control; returns "" when available,
// else the reason to skip.
std::string loopUnavailableReason();

// A loop device attached to a file for the lifetime of the object.
class LoopDevice
{
public:
    LoopDevice(const std::string &file, int sectorSize = 512, bool partscan = false);
    ~LoopDevice();
    LoopDevice(const LoopDevice &) = delete;
    LoopDevice &operator=(const LoopDevice &) = delete;
    bool ok() const { return !m_dev.empty(); }
    const std::string &dev() const { return m_dev; }
    const std::string &error() const { return m_error; }

private:
    std::string m_dev;
    std::string m_error;
};

} // namespace testsupport
