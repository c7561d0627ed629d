// A simulated RK3576 board whose onboard storage is a factory-fresh UFS
// device: the data unit "/dev/sda" is a file, the BSG node and the SCSI host
// exist, and the UFS device model makes the boot unit "/dev/sdb" appear as a
// 4 MiB file when it accepts a configuration write (the rescan's effect).
#pragma once

#include "support/testsupport.h"
#include "support/ufsdevicemodel.h"

#include <gtest/gtest.h>

#include <QString>

#include <cstdint>
#include <string>
#include <vector>

class BoardHardwareInfo;

class UfsBoardTest : public ::testing::Test
{
protected:
    static constexpr uint64_t kBootUnitBytes = 4u << 20;
    static constexpr uint64_t kDataUnitBytes = 32u << 20;

    void SetUp() override;
    void TearDown() override;

    std::string root(const std::string &rel) const { return m_dir.file(rel); }
    std::string bootUnit() const { return root("dev/sdb"); }
    // The first table row with this boardKey (the table is built per test).
    static BoardHardwareInfo *boardRow(const char *boardKey);
    BoardHardwareInfo *ufsBoard() const;
    // A directory of an image set below "/mnt/sdcard" (created).
    std::string imageSet(const std::string &name) const;
    // A loader-like file of `size` pattern bytes.
    std::vector<uint8_t> putLoader(const std::string &path, size_t size, uint32_t seed = 7) const;
    // Descriptor writes the device model accepted.
    int configWrites() const;
    std::string logText() const;

    testsupport::TempDir m_dir;
    testsupport::UfsDeviceModel m_model;
    testsupport::UfsTransportGuard m_guard{&m_model};
    bool m_bootUnitOnRescan = true;
};

// gtest prints QStrings as text.
void PrintTo(const QString &s, std::ostream *os);
