#include "ufsinstallfixture.h"

#include "board/boardhardwareinfo.h"

using namespace testsupport;

void UfsBoardTest::SetUp()
{
    m_root.put("dev/bsg/ufs-bsg0", "");
    m_root.put("sys/class/scsi_host/host0/scan", "");
    makeSparseFile(root("dev/sda"), kDataUnitBytes);
    m_model.onConfigWritten = [this] {
        if (m_bootUnitOnRescan)
            makeSparseFile(bootUnit(), kBootUnitBytes);
    };
    initBoardType();
}

BoardHardwareInfo *UfsBoardTest::ufsBoard() const
{
    return boardRow(kRK3576UFSBoardKey);
}

std::vector<uint8_t> UfsBoardTest::putLoader(const std::string &path, size_t size, uint32_t seed) const
{
    std::vector<uint8_t> bytes = patternBytes(size, seed);
    writeFile(path, bytes);
    return bytes;
}

int UfsBoardTest::configWrites() const
{
    int n = 0;
    for (const auto &r : m_model.writes())
        if (r.opcode == UFS_QUERY_OP_WRITE_DESC && r.idn == UFS_DESC_CONFIG)
            n++;
    return n;
}
