// The image-set scan on a simulated board: what is offered, in which order;
// the list of board addresses kept on a drive.
#include "simulatedboard.h"

#include "board/boardhardwareinfo.h"
#include "frontend/imagesetscanner.h"
#include "frontend/macaddresslist.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

// The board with the scan tree, made once and left in place; its root.
const std::string &board()
{
    static SimulatedBoard *board = nullptr;
    static std::string root;
    if (!board) {
        board = new SimulatedBoard(QStringLiteral("--sets none"));
        EXPECT_TRUE(board->ok() && board->addScanTree());
        root = board->root().toStdString();
    }
    return root;
}

QStringList pathsOf(const QList<OSConfig> &sets)
{
    QStringList paths;
    for (const OSConfig &os : sets)
        paths << ImageSetScanner::autoStartPathOf(os);
    return paths;
}

// The order the screen shows (by kind, the recommended set first) is pinned
// by tests/ui/screens_test.cpp; here what the screen does not show.
TEST(ImageSetScan, RawSetTitlesRecommendedNamesAndDrives)
{
    const std::string root = board();
    // The USB drive is a copied root file system: nothing on it is offered.
    QList<OSConfig> sets = ImageSetScanner().scan({QStringLiteral("/mnt/udisk"), QStringLiteral("/mnt/sdcard")});
    ASSERT_EQ(sets.size(), 8);
    EXPECT_EQ(sets.last().title, "Single disk");
    // A name that only ends like a directory does not count.
    const QStringList before = pathsOf(sets);
    EXPECT_FALSE(ImageSetScanner::reSortOSListByRecommendedOS(sets, "arm64"));
    EXPECT_EQ(pathsOf(sets), before);

    // The drive's sets are found when the drive is not a root file system.
    ASSERT_EQ(run("rm -rf " + shq(root + "/mnt/udisk/bin")).status, 0);
    EXPECT_EQ(pathsOf(ImageSetScanner().scan({QStringLiteral("/mnt/udisk")})),
              QStringList{"/mnt/udisk/home/debian-usb"});
    ASSERT_EQ(run("mkdir " + shq(root + "/mnt/udisk/bin")).status, 0);
}

TEST(ImageSetScan, CompressedDiskImagesAreRawSets)
{
    const std::string dir = board() + "/mnt/packed";
    ASSERT_EQ(run("mkdir -p " + shq(dir) + " && cd " + shq(dir) + " && touch a.raw.gz b.img.xz c.raw.zst "
                  "d.xz e.zst f.tar.xz.sig g.zstd h.XZ")
                  .status,
              0);
    EXPECT_EQ(pathsOf(ImageSetScanner().scan({QStringLiteral("/mnt/packed")})),
              QStringList({"/mnt/packed/a.raw.gz", "/mnt/packed/b.img.xz", "/mnt/packed/c.raw.zst",
                           "/mnt/packed/d.xz", "/mnt/packed/e.zst"}));
    ASSERT_EQ(run("rm -rf " + shq(dir)).status, 0);
}

TEST(MacAddressList, OneLinePerBoardUntilItIsRemoved)
{
    const std::string root = board();
    ASSERT_EQ(run("mkdir -p " + shq(root + "/mnt/macdrive")).status, 0);
    const MacAddressList list(QStringLiteral("/mnt/macdrive"), *gCurrentBoardInfo);
    EXPECT_FALSE(list.isRequested());
    ASSERT_EQ(run("touch " + shq(root + "/mnt/macdrive/save_mac_address.txt")).status, 0);
    EXPECT_TRUE(list.isRequested());
    EXPECT_EQ(list.save(), "Saving complete.");
    EXPECT_EQ(list.save(), "Already added.");
    const std::string file = root + list.fileName().toStdString();
    EXPECT_EQ(readFile(file), list.line().toStdString() + "\n");
    EXPECT_EQ(list.line().section(',', 0, 0), gCurrentBoardInfo->getCPUID());
    ASSERT_EQ(run(": > " + shq(file)).status, 0);
    EXPECT_EQ(list.save(), "Saving complete.");
}

} // namespace
