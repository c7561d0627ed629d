// The compiled-in board table: rows the code singles out, and that every row
// can be identified from what its kernel reports.
#include <gtest/gtest.h>

#include <QMap>
#include <QSet>

#include "board/boardhardwareinfo.h"
#include "simboard.h"

TEST(BoardTable, SingledOutRowsAreUniqueEveryRowIsIdentifiedAndTheSupportedListIsClean)
{
    SimBoard sim;
    int ufsRows = 0, noUfs = 0;
    for (const BoardHardwareInfo *b : std::as_const(gAllBoardHardwareInfo)) {
        if (b->onboardIsUFS && ++ufsRows)
            EXPECT_EQ(b->boardKey, kRK3576UFSBoardKey);
        if (b->boardKey == kRK3576NoUFSBoardKey && ++noUfs)
            EXPECT_FALSE(b->onboardIsUFS);
        // ROCKNIX names come in pairs.
        EXPECT_EQ(b->RocknixSubDeviceName.isEmpty(), b->DTSFileName.isEmpty()) << b->boardName.toStdString();
    }
    EXPECT_EQ(ufsRows, 1);
    EXPECT_EQ(noUfs, 1);

    // Every row must be reachable: a duplicate (hardware, revision) or board
    // id would hide a model behind an earlier row.
    for (BoardHardwareInfo *b : std::as_const(gAllBoardHardwareInfo)) {
        const std::string hw = b->cpuinfoHardware.toStdString();
        const bool viaBoardInfo = b->isRockchipCPU();
        std::string rev = b->boardRevision >= 0 ? QString::number(b->boardRevision, 16).rightJustified(4, '0').toStdString()
                                                : std::string("fff0");
        const std::string text = "Hardware\t: " + hw + "\nRevision\t: " + rev + "\n";
        std::remove((sim.root() + "/sys/devices/platform/board/info").c_str());
        std::remove((sim.root() + "/proc/cpuinfo").c_str());
        sim.put(viaBoardInfo ? "sys/devices/platform/board/info" : "proc/cpuinfo", text);
        sim.put("sys/class/sunxi_info/sys_info", "sunxi_board_id : " + b->allwinnerBoardId.toStdString() + "\n");
        EXPECT_EQ(GetBoardType(), b) << b->boardName.toStdString() << " got "
                                     << GetBoardType()->boardName.toStdString();
    }

    // The list of supported boards.
    DebugCapture cap;
    dumpSupportedBoards();
    const QStringList out = cap.lines();
    ASSERT_GE(out.size(), 3);
    EXPECT_EQ(out.first(), "\"{{ Currently supported boards:\"");
    EXPECT_EQ(out.last(), "\"}}\"");

    QStringList socs;
    QMap<QString, QStringList> names;
    QString current;
    for (int i = 1; i < out.size() - 1; ++i) {
        const QString l = out[i];
        ASSERT_TRUE(l.startsWith('"') && l.endsWith('"')) << l.toStdString();
        const QString text = l.mid(1, l.size() - 2);
        if (text.startsWith("==== ")) {
            current = text.mid(5);
            socs << current;
        } else {
            ASSERT_TRUE(text.startsWith('\t')) << l.toStdString();
            names[current] << text.mid(1);
        }
    }
    QStringList sorted = socs;
    sorted.sort();
    EXPECT_EQ(socs, sorted);
    // Other makers' boards are not ours to list.
    EXPECT_FALSE(socs.contains("BCM2837"));
    // Twins of the other kernel flavour and the catch-alls drop out; the
    // variants of a model stay, in table order.
    for (auto it = names.cbegin(); it != names.cend(); ++it) {
        EXPECT_EQ(QSet<QString>(it->begin(), it->end()).size(), it->size()) << it.key().toStdString();
        for (const QString &n : *it)
            EXPECT_FALSE(n.startsWith("Unknow")) << n.toStdString();
    }
    EXPECT_EQ(names["H5"].mid(0, 2), QStringList({"Quill-H5", "Quill-H5 Plus"}));
}
