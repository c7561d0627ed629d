// Helpers shared by the test executables: temporary directories, running
// independent tools, loop devices. No Qt, so storage tests can use them.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// A fresh directory under `base` (default $TMPDIR, else /tmp), removed with
// its contents when the object goes out of scope.
class TempDir
{
public:
    explicit TempDir(const std::string &base = std::string());
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
void writeFile(const std::string &path, const std::vector<uint8_t> &data);
// A file with mode 0755.
void writeExecutable(const std::string &path, const std::string &text);
std::vector<uint8_t> readBytes(const std::string &path, uint64_t offset, size_t len);
void writeBytes(const std::string &path, uint64_t offset, const std::vector<uint8_t> &data);
// Changes a bit of the byte at `offset`: data gone bad behind a writer's back.
void flipByte(const std::string &path, uint64_t offset);
// Creates (or truncates) a sparse file of the given size.
void makeSparseFile(const std::string &path, uint64_t size);
// Deterministic pseudo-random bytes.
std::vector<uint8_t> patternBytes(size_t len, uint32_t seed);

// The path of a file of the source tree ("scripts/make-sim-board.sh").
std::string sourcePath(const std::string &rel);

// ---- independent tools as oracles -----------------------------------------
// `cmp` of `n` bytes of `a` from `aOff` with `b` from `bOff`; n < 0 compares
// the whole of `a`. "" when equal, else cmp's report.
std::string cmpAt(const std::string &a, int64_t aOff, const std::string &b, int64_t bOff, int64_t n = -1);
// True when `device` holds the whole of `file` at byte `offset`.
bool holdsAt(const std::string &device, const std::string &file, int64_t offset);
// True when `length` bytes of `path` from `offset` are all zero (cmp with /dev/zero).
bool zeroAt(const std::string &path, int64_t offset, int64_t length);
// Size of a file in bytes, -1 when it does not exist.
int64_t fileSize(const std::string &path);
// `sfdisk --json` of a device or image with all white space removed, so
// entries read as "start":2048,"size":32768.
std::string sfdiskJson(const std::string &device);
// sha256sum of a file (the hex digest).
std::string sha256(const std::string &path);
// An ext4 image of `mib` MiB labelled `label` holding `files` (mkfs.ext4 -d).
CmdResult mkfsExt4(const std::string &image, int mib, const std::string &label,
                   const std::vector<std::pair<std::string, std::string>> &files);
// The first of `tools` missing from PATH, "" when all are there.
std::string missingTool(std::initializer_list<const char *> tools);

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

// Skips the test when one of the named tools is missing.
#define REQUIRE_TOOLS(...)                                                                         \
    do {                                                                                           \
        const std::string missing_ = testsupport::missingTool({__VA_ARGS__});                     \
        if (!missing_.empty())                                                                     \
            GTEST_SKIP() << missing_ << " not installed";                                          \
    } while (0)
