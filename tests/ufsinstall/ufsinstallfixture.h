// A simulated RK3576 board whose onboard storage is a factory-fresh UFS
// device: the data unit "/dev/sda" is a file, the BSG node and the SCSI host
// exist, and the UFS device model makes the boot unit "/dev/sdb" appear as a
// 4 MiB file when it accepts a configuration write (the rescan's effect).
#pragma once

#include "board/boardhardwareinfo.h"
#include "support/qt/simboard.h"
#include "support/ufsdevicemodel.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

class UfsBoardTest : public ::testing::Test
{
protected:
    static constexpr uint64_t kBootUnitBytes = 4u << 20;
    static constexpr uint64_t kDataUnitBytes = 32u << 20;
    // The IDB loader's first copy on the boot unit, and the room of each copy.
    static constexpr int64_t kIdb = 64 * 512, kCopy = 512 * 1024;

    void SetUp() override
    {
        m_root.put("dev/bsg/ufs-bsg0", "");
        m_root.put("sys/class/scsi_host/host0/scan", "");
        testsupport::makeSparseFile(root("dev/sda"), kDataUnitBytes);
        m_model.onConfigWritten = [this] {
            if (m_bootUnitOnRescan)
                testsupport::makeSparseFile(bootUnit(), kBootUnitBytes);
        };
        initBoardType();
    }

    std::string root(const std::string &rel) const { return m_root.file(rel); }
    std::string bootUnit() const { return root("dev/sdb"); }
    static BoardHardwareInfo *boardRow(const char *boardKey) { return testsupport::SimBoard::row(boardKey); }
    static BoardHardwareInfo *ufsBoard() { return boardRow(kRK3576UFSBoardKey); }
    std::string imageSet(const std::string &name) const { return m_root.imageSet(name); }
    static std::vector<uint8_t> putLoader(const std::string &path, size_t size, uint32_t seed = 7)
    {
        testsupport::writeFile(path, testsupport::patternBytes(size, seed));
        return testsupport::patternBytes(size, seed);
    }
    std::string logText() const { return m_root.log(); }

    testsupport::SimBoard m_root;
    testsupport::UfsDeviceModel m_model;
    testsupport::UfsTransportGuard m_guard{&m_model};
    bool m_bootUnitOnRescan = true;
};
