// The compiled-in board table: its shape, and that every row can be
// identified from what its kernel reports.
#include <gtest/gtest.h>

#include <QMap>
#include <QSet>

#include "board/boardhardwareinfo.h"
#include "simboard.h"

TEST(BoardTable, RowsPerSocAndHowTheyWereMade)
{
    // The table is built again here so that the copies can be counted.
    resetBoardStateForTest();
    const int before = BoardHardwareInfo::newOneCount();
    initBoardType();
    const int copies = BoardHardwareInfo::newOneCount() - before;

    const QMap<QString, int> expected = {
        {"S5PV210", 1}, {"S5PC110", 1}, {"S5P4418", 11}, {"S5P6818", 7}, {"S3C2451", 2},
        {"RK3328", 12}, {"RK3399", 13}, {"RK3528", 3}, {"RK3566", 4}, {"RK3568", 7},
        {"RK3576", 3}, {"RK3588", 12}, {"H3", 26}, {"H5", 14}, {"H6", 1}, {"A64", 1},
        {"BCM2835", 2}, {"BCM2836", 2}, {"BCM2837", 1}, {"S905", 1}, {"M2", 1},
    };
    QMap<QString, int> counted;
    QStringList order;
    for (const BoardHardwareInfo *b : std::as_const(gAllBoardHardwareInfo)) {
        ++counted[b->cpuName];
        if (order.isEmpty() || order.last() != b->cpuName)
            order << b->cpuName;
    }
    EXPECT_EQ(gAllBoardHardwareInfo.size(), 125);
    EXPECT_EQ(counted, expected);
    EXPECT_EQ(copies, 46);
    // Grouped by SoC: every SoC appears as one run.
    EXPECT_EQ(order.size(), expected.size()) << order.join(',').toStdString();
    resetBoardStateForTest();
}

TEST(BoardTable, SingledOutRowsAreUnique)
{
    SimBoard sim;
    int ufsRows = 0, noUfs = 0, shortConf = 0;
    for (const BoardHardwareInfo *b : std::as_const(gAllBoardHardwareInfo)) {
        if (b->onboardIsUFS && ++ufsRows)
            EXPECT_EQ(b->boardKey, kRK3576UFSBoardKey);
        if (b->boardKey == kRK3576NoUFSBoardKey && ++noUfs)
            EXPECT_FALSE(b->onboardIsUFS);
        shortConf += isShortConfBoard(b->boardName);
        // ROCKNIX names come in pairs.
        EXPECT_EQ(b->RocknixSubDeviceName.isEmpty(), b->DTSFileName.isEmpty()) << b->boardName.toStdString();
    }
    EXPECT_EQ(ufsRows, 1);
    EXPECT_EQ(noUfs, 1);
    EXPECT_EQ(shortConf, 2);
    EXPECT_TRUE(isShortConfBoard("alpha-n2"));
}

TEST(BoardTable, AllwinnerModelsHaveOneRowPerKernelFlavour)
{
    SimBoard sim;
    const QMap<QString, QString> flavour = {{"sun8i", "Allwinnersun8iFamily"},
                                            {"sun50iw2", "Allwinnersun50iw2Family"}};
    int pairs = 0;
    for (const BoardHardwareInfo *b : std::as_const(gAllBoardHardwareInfo)) {
        if (!flavour.contains(b->cpuinfoHardware))
            continue;
        int twins = 0;
        for (const BoardHardwareInfo *t : std::as_const(gAllBoardHardwareInfo)) {
            twins += t->cpuinfoHardware == flavour[b->cpuinfoHardware] && t->boardName == b->boardName
                && t->allwinnerBoardId == b->allwinnerBoardId && t->boardRevision == b->boardRevision;
        }
        EXPECT_EQ(twins, 1) << b->boardName.toStdString();
        ++pairs;
    }
    EXPECT_EQ(pairs, 13 + 7);
}

// Every row must be reachable: a duplicate (hardware, revision) or board id
// would hide a model behind an earlier row.
TEST(BoardTable, EveryRowIsIdentifiedFromItsOwnKernelReport)
{
    SimBoard sim;
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
}

TEST(BoardTable, SupportedBoardList)
{
    SimBoard sim;
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
    EXPECT_EQ(socs.first(), "A64");
    // Twins and catch-alls drop out; variants stay, in table order.
    EXPECT_EQ(names["H5"], QStringList({"Quill-H5", "Quill-H5 Plus", "Quill-H5 Lark", "Quill-H5 Module",
                                        "Quill-H5 Twin", "Quill-H5 Max"}));
    EXPECT_EQ(names["S5P4418"].size(), 10);
    int total = 0;
    for (const QStringList &l : std::as_const(names))
        total += l.size();
    // 118 rows of our own, less 20 Allwinner twins and 8 catch-alls.
    EXPECT_EQ(total, 90);
}
