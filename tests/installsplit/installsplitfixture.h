// A simulated RK3588 board (scripts/make-sim-board.sh: eMMC "mmcblk2" and
// NVMe "nvme0n1" as files) on which the install job runs in-process, with
// the test stand-in for mkdtimg first in PATH. Results are read back with
// sfdisk, sgdisk, cmp, fdtget and rkunpack.
#pragma once

#include "installsupport.h"

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "board/targetdevice.h"
#include "imageset/osconfig.h"
#include "support/testsupport.h"

class SDUpdateThread;

class SimBoardTest : public ::testing::Test
{
protected:
    static constexpr int64_t MiB = 1024 * 1024;

    void SetUp() override;
    void TearDown() override;

    std::string root(const std::string &rel) const { return m_root.file(rel); }
    std::string emmc() const { return root("dev/mmcblk2"); }
    std::string nvme() const { return root("dev/nvme0n1"); }
    std::string setDir(const std::string &name) const { return root("mnt/sdcard/" + name); }
    static TargetDevice emmcTarget() { return TargetDevice(TargetDeviceEMMC, "mmcblk2"); }
    static TargetDevice nvmeTarget() { return TargetDevice(TargetDeviceNVMe, "nvme0n1"); }

    // The set as the OS selection screen would describe it: its directory
    // (resolved below the simulation root) and the names of its files.
    OSConfig scanSet(const std::string &name) const;

    // Runs one job to its end; checks the one-terminal-event and
    // device-released rules every job must keep.
    EventLog install(const OSConfig &c, const TargetDevice &boot, const TargetDevice &system,
                     std::function<void(SDUpdateThread &)> setup = nullptr);

    // Pattern bytes written to `path`; returned for comparisons.
    std::vector<uint8_t> putPattern(const std::string &path, size_t size, uint32_t seed) const;
    // An ext4 image of `mib` MiB with a file in it (mkfs.ext4 -d).
    void makeExt4(const std::string &path, int mib, const std::string &label) const;
    // True when `device` holds the whole of `file` at byte `offset` (cmp).
    static bool holdsAt(const std::string &device, const std::string &file, int64_t offset);
    // True when `length` bytes of `device` from `offset` are all zero.
    static bool zeroAt(const std::string &device, int64_t offset, int64_t length);
    // Names of the directories below `dir` whose name starts with `prefix`.
    static std::vector<std::string> entriesStartingWith(const std::string &dir, const std::string &prefix);

    testsupport::TempDir m_root;
    std::string m_oldPath;
};

// Skips the test when a tool is missing.
#define REQUIRE_TOOLS(...)                                                                         \
    do {                                                                                           \
        for (const char *t : {__VA_ARGS__})                                                        \
            if (!testsupport::haveTool(t))                                                         \
                GTEST_SKIP() << t << " not installed";                                             \
    } while (0)
