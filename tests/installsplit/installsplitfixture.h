// A simulated RK3588 board (scripts/make-sim-board.sh) on which the install
// job runs in-process, with the test stand-in for mkdtimg first in PATH.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

#include "board/targetdevice.h"
#include "imageset/osconfig.h"
#include "support/qt/installrecorder.h"
#include "support/qt/simboard.h"

class SDUpdateThread;

class SimBoardTest : public ::testing::Test
{
protected:
    static constexpr int64_t MiB = 1024 * 1024;

    void SetUp() override;

    std::string root(const std::string &rel) const { return m_root.file(rel); }
    std::string emmc() const { return root("dev/mmcblk2"); }
    std::string nvme() const { return root("dev/nvme0n1"); }
    std::string setDir(const std::string &name) const { return root("mnt/sdcard/" + name); }
    static TargetDevice emmcTarget() { return TargetDevice(TargetDeviceEMMC, "mmcblk2"); }
    static TargetDevice nvmeTarget() { return TargetDevice(TargetDeviceNVMe, "nvme0n1"); }
    OSConfig scanSet(const std::string &name) const { return m_root.scanSet(name); }

    testsupport::EventLog install(const OSConfig &c, const TargetDevice &boot, const TargetDevice &system,
                                  std::function<void(SDUpdateThread &)> setup = nullptr);

    // An ext4 image of `mib` MiB with a file in it (mkfs.ext4 -d).
    static void makeExt4(const std::string &path, int mib, const std::string &label);
    // Names of the entries of `dir` whose name starts with `prefix`, a line each.
    static std::string entriesStartingWith(const std::string &dir, const std::string &prefix);

    testsupport::SimBoard m_root;
};
