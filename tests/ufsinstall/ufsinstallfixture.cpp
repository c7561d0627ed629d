#include "ufsinstallfixture.h"

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
