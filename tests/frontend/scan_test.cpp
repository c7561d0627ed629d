// The image-set scan on a simulated board: what is offered, in which order.
#include "frontendboard.h"
#include "simulatedboard.h"

#include "board/boardhardwareinfo.h"
#include "frontend/imagesetscanner.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

using namespace testsupport;

namespace frontendtest {

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

} // namespace frontendtest

namespace {

QStringList pathsOf(const QList<OSConfig> &sets)
{
    QStringList paths;
    for (const OSConfig &os : sets)
        paths << ImageSetScanner::autoStartPathOf(os);
    return paths;
}

// The order the screen shows (by kind, the recommended set first) is pinned
// by tests/ui/tmainwidget_test.cpp; here what the screen does not show.
TEST(ImageSetScan, RawSetTitlesRecommendedNamesAndDrives)
{
    const std::string root = frontendtest::board();
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
    const std::string dir = frontendtest::board() + "/mnt/packed";
    ASSERT_EQ(run("mkdir -p " + shq(dir) + " && cd " + shq(dir) + " && touch a.raw.gz b.img.xz c.raw.zst "
                  "d.xz e.zst f.tar.xz.sig g.zstd h.XZ")
                  .status,
              0);
    EXPECT_EQ(pathsOf(ImageSetScanner().scan({QStringLiteral("/mnt/packed")})),
              QStringList({"/mnt/packed/a.raw.gz", "/mnt/packed/b.img.xz", "/mnt/packed/c.raw.zst",
                           "/mnt/packed/d.xz", "/mnt/packed/e.zst"}));
    ASSERT_EQ(run("rm -rf " + shq(dir)).status, 0);
}

} // namespace
