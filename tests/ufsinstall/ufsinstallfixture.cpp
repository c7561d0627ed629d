#include "ufsinstallfixture.h"

#include "board/boardhardwareinfo.h"
#include "storage/mmc.h"
#include "util/paths.h"

#include <cstdlib>
#include <ostream>

using namespace testsupport;

void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}

void UfsBoardTest::SetUp()
{
    setenv("IMGSMITH_ROOT", m_dir.path().c_str(), 1);
    imgsmith::resetSimRootCache();
    mmc_reset_state_for_test();
    ASSERT_EQ(run("mkdir -p " + shq(root("dev/bsg")) + " " + shq(root("sys/class/scsi_host/host0")) + " "
                  + shq(root("tmp")) + " " + shq(root("mnt/sdcard")))
                  .status,
              0);
    writeFile(root("dev/bsg/ufs-bsg0"), "");
    writeFile(root("sys/class/scsi_host/host0/scan"), "");
    makeSparseFile(root("dev/sda"), kDataUnitBytes);
    m_model.onConfigWritten = [this] {
        if (m_bootUnitOnRescan)
            makeSparseFile(bootUnit(), kBootUnitBytes);
    };
    initBoardType();
}

void UfsBoardTest::TearDown()
{
    mmc_reset_state_for_test();
    resetBoardStateForTest();
    unsetenv("IMGSMITH_ROOT");
    imgsmith::resetSimRootCache();
}

BoardHardwareInfo *UfsBoardTest::boardRow(const char *boardKey)
{
    for (BoardHardwareInfo *b : gAllBoardHardwareInfo)
        if (b->boardKey == QLatin1String(boardKey))
            return b;
    ADD_FAILURE() << "no board row " << boardKey;
    return nullptr;
}

BoardHardwareInfo *UfsBoardTest::ufsBoard() const
{
    return boardRow(kRK3576UFSBoardKey);
}

std::string UfsBoardTest::imageSet(const std::string &name) const
{
    const std::string dir = root("mnt/sdcard/" + name);
    EXPECT_EQ(run("mkdir -p " + shq(dir)).status, 0);
    return dir;
}

std::vector<uint8_t> UfsBoardTest::putLoader(const std::string &path, size_t size, uint32_t seed) const
{
    std::vector<uint8_t> bytes = patternBytes(size, seed);
    writeFile(path, std::string(bytes.begin(), bytes.end()));
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

std::string UfsBoardTest::logText() const
{
    return readFile(root("tmp/imgsmith-gui.log"));
}
