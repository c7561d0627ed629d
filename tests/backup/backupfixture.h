// A simulated RK3588 board (eMMC "mmcblk2"), recording stand-in tools on PATH.
#pragma once

#include <QString>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "board/boardhardwareinfo.h"
#include "startup/globals.h"
#include "storage/mmc.h"
#include "support/qt/installrecorder.h"
#include "support/qt/simboard.h"

class OnboardFlashBackupAndRestoreThread;

using BackupLog = testsupport::EventLog;

class BackupBoard : public ::testing::Test
{
protected:
    // Also called again by tests that go through several boards.
    void SetUp() override;
    void TearDown() override { m_sim.reset(); }

    std::string file(const std::string &rel) const { return m_sim->file(rel); }
    std::string emmc() const { return file("dev/mmcblk2"); }
    // A blank (all-zero, sparse) onboard eMMC of `bytes`; gOnboardFlashSize follows.
    void makeEmmc(int64_t bytes);
    // A USB drive "sda" in sysfs and /proc/partitions (with "sda1" if `partitioned`).
    void makeUsbDrive(int mib, bool partitioned);
    // Lines the stand-in tools recorded so far.
    std::string toolLog() const { return testsupport::readFile(file("tools.log")); }
    // The df stand-in prints these lines under its header.
    void dfSays(const std::string &lines);

    // One back-up of the eMMC into `image`; `setup` may adjust the job first.
    BackupLog backUp(const QString &image, int mediaKind = 1,
                     const std::function<void(OnboardFlashBackupAndRestoreThread &)> &setup = nullptr);

    std::unique_ptr<testsupport::SimBoard> m_sim;
    std::unique_ptr<BoardHardwareInfo> m_board;
};
