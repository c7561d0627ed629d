// Identifying the running board from cpuinfo, board/info and the Allwinner id.
#include <gtest/gtest.h>

#include <QMap>
#include <QSet>

#include <algorithm>

#include "board/allwinnerboardid.h"
#include "board/boardhardwareinfo.h"
#include "simboard.h"

namespace {

std::string name(const BoardHardwareInfo *b) { return b ? b->boardName.toStdString() : "<null>"; }

const char *kArmCpuinfo =
    "processor\t: 0\nmodel name\t: ARMv7 Processor rev 5 (v7l)\nCPU implementer\t: 0x41\nCPU revision\t: 5\n\n";

} // namespace

// What the kernel reports in the three places read, and the row it must
// pick; nullptr: the file is absent.
TEST(BoardIdentify, KernelReportsPickTheirRow)
{
    const std::string arm = kArmCpuinfo;
    // hardware: the row's cpuinfo key, when it matters.
    const struct { std::string cpuinfo; const char *boardInfo, *sunxiInfo, *name, *hardware; } cases[] = {
        // The revision is hex; the family row.
        {arm + "Hardware\t: corvanta-s5p4418\nRevision\t: 000a\n", nullptr, nullptr, "Tern-Q4 Plus (2GB)", nullptr},
        // Case of the hardware key does not matter; a later line overrides.
        {"Hardware : nothing\nRevision : 0\nHardware : CORVANTA-S5P6818\nRevision : 0003\n", nullptr, nullptr,
         "Tern-X8 Pro (2GB)", nullptr},
        {"Hardware : corvanta-s5p6818\nRevision : 0050\n", nullptr, nullptr, "Unknow6818", nullptr},   // catch-all
        // No cpuinfo; no revision line; a revision not hex; no hardware.
        {"", nullptr, nullptr, "unknow", nullptr},
        {"processor : 0\nHardware : corvanta-s5p4418\n", nullptr, nullptr, "unknow", nullptr},
        {"Hardware : corvanta-s5p4418\nRevision : 00zz\n", nullptr, nullptr, "unknow", nullptr},
        {"Revision : 0000\n", nullptr, nullptr, "unknow", nullptr},
        // CPU revision 5 stands in for a missing revision.
        {arm + "Hardware : corvanta-s5p4418\n", nullptr, nullptr, "Tern-Q4 Ember", nullptr},
        // A64 needs no revision.
        {"processor : 0\nHardware : sun50iw1p1\n", nullptr, nullptr, "Quill-A64", nullptr},
        {"Hardware : sun50iw1p1\nRevision : 00zz\n", nullptr, nullptr, "Quill-A64", nullptr},
        // Allwinner: the board id beats the revision in either kernel flavour;
        // an unknown id falls back to it; a line of three parts is no id.
        {"Hardware : sun8i\nRevision : 0003\n", nullptr, nullptr, "Quill-H1 Twin", nullptr},
        {"Hardware : sun8i\nRevision : 0003\n", nullptr,
         "sunxi_platform    : Sun8iw7p1\nsunxi_chipid      : 2c21020e786746240000540000000000\n"
         "sunxi_board_id    : 7(0)\n",
         "Quill-H1 LTS", "sun8i"},
        {"Hardware : Allwinnersun8iFamily\nRevision : 0003\n", nullptr, "sunxi_board_id : 7(0)\n", "Quill-H1 LTS",
         "Allwinnersun8iFamily"},
        {"Hardware : sun8i\nRevision : 0003\n", nullptr, "sunxi_board_id : 99(0)\n", "Quill-H1 Twin", nullptr},
        {"Hardware : sun50iw2\nRevision : 0000\n", nullptr, "sunxi_board_id : 4(0) : x\nSUNXI_BOARD_ID:   2(0)\n",
         "Quill-H5 Lark", nullptr},
        // board/info shadows cpuinfo, even when it says nothing.
        {"Hardware : sun8i\nRevision : 0000\n", nullptr, nullptr, "Quill-H1", nullptr},
        {"Hardware : sun8i\nRevision : 0000\n", "Hardware : corvanta-rk3399\nRevision : 0004\n", nullptr,
         "Alpha-R4 Pro", nullptr},
        {"Hardware : sun8i\nRevision : 0000\n", "", nullptr, "unknow", nullptr},
    };
    for (const auto &c : cases) {
        SimBoard sim;
        if (!c.cpuinfo.empty())
            sim.put("proc/cpuinfo", c.cpuinfo);
        if (c.boardInfo)
            sim.put("sys/devices/platform/board/info", c.boardInfo);
        if (c.sunxiInfo)
            sim.put("sys/class/sunxi_info/sys_info", c.sunxiInfo);
        const BoardHardwareInfo *b = GetBoardType();
        EXPECT_EQ(name(b), c.name) << c.cpuinfo << (c.boardInfo ? c.boardInfo : "") << (c.sunxiInfo ? c.sunxiInfo : "");
        if (c.hardware)
            EXPECT_EQ(b->cpuinfoHardware, c.hardware) << c.name;
    }
}

TEST(BoardIdentify, UnknownRevisionRecordCpuIdAndCopiesOfRows)
{
    SimBoard sim;
    // RK3576 has no catch-all row.
    sim.put("sys/devices/platform/board/info", "Hardware : Corvanta-RK3576\nRevision : 0077\n");
    BoardHardwareInfo *b = GetBoardType();
    EXPECT_EQ(QStringList({b->boardName, b->boardKey, b->cpuName, b->socVendor, b->makerKey}),
              QStringList({"corvanta-rk3576", "corvanta-rk3576", "Unknow", "Unknow", "unknow"}));
    EXPECT_FALSE(b->emmcMode || b->onboardIsUFS || b->isRockchipCPU());
    EXPECT_FALSE(gAllBoardHardwareInfo.contains(b));
    // Reused and rewritten on the next call.
    sim.put("sys/devices/platform/board/info", "Hardware : mystery-soc\nRevision : 1\n");
    EXPECT_EQ(GetBoardType(), b);
    EXPECT_EQ(name(b), "mystery-soc");
    // Without any report: the plain unknown record.
    std::remove(sim.file("sys/devices/platform/board/info").c_str());
    b = GetBoardType();
    EXPECT_EQ(b->boardKey, "unknow");
    EXPECT_EQ(b->cpuName, "Unknow");

    // The CPU's id, by each row's rule.
    sim.put("proc/cpuinfo", "Serial : 1111\nprocessor : 0\nSerial\t: 02C000815E3F  \n");
    EXPECT_EQ(BoardHardwareInfo::getCPUSerialNum("/nonexistent"), "");
    EXPECT_EQ(SimBoard::row("Quill-H1")->getCPUID(), "02c000815e3f");
    // Rockchip without a serial line in board/info.
    sim.put("sys/devices/platform/board/info", "Hardware : corvanta-rk3568\nRevision : 0\n");
    EXPECT_EQ(SimBoard::row("Alpha-R2")->getCPUID(), "");
    sim.put("sys/devices/platform/board/info", "Hardware : corvanta-rk3399\nRevision : 0004\nSerial : ABCDEF0123\n");
    EXPECT_EQ(SimBoard::row("Alpha-R4 Pro")->getCPUID(), "abcdef0123");
    sim.put("sys/devices/platform/cpu/uuid", "1a2b:3c4d:5e6f:7a8b\n");
    EXPECT_EQ(SimBoard::row("Tern-Q4")->getCPUID(), "1a2b3c4d5e6f7a8b");
    EXPECT_EQ(SimBoard::row("BCM2837 Board")->getCPUID(), "");   // no rule

    // A copy of a row leaves the Wi-Fi address cache behind.
    BoardHardwareInfo *src = SimBoard::row("Alpha-G1");
    src->wifiMacCache = "00:11:22:33:44:55";
    BoardHardwareInfo *copy = BoardHardwareInfo::newOne(src);
    EXPECT_EQ(copy->boardName, src->boardName);
    EXPECT_EQ(copy->DTSFileName, src->DTSFileName);
    EXPECT_TRUE(copy->wifiMacCache.isEmpty());
    delete copy;
    src->wifiMacCache.clear();
}

// Every row of the board table is identified from its kernel's report.
TEST(BoardTable, EveryRowIsIdentifiedAndTheSupportedListIsClean)
{
    SimBoard sim;
    // A duplicate (hardware, revision) or board id hides a later row.
    for (BoardHardwareInfo *b : std::as_const(gAllBoardHardwareInfo)) {
        const std::string hw = b->cpuinfoHardware.toStdString();
        const bool viaBoardInfo = b->isRockchipCPU();
        std::string rev = b->boardRevision >= 0 ? QString::number(b->boardRevision, 16).rightJustified(4, '0').toStdString()
                                                : std::string("fff0");
        const std::string text = "Hardware\t: " + hw + "\nRevision\t: " + rev + "\n";
        std::remove(sim.file("sys/devices/platform/board/info").c_str());
        std::remove(sim.file("proc/cpuinfo").c_str());
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
    EXPECT_TRUE(std::is_sorted(socs.begin(), socs.end())) << socs.join(' ').toStdString();
    // Other makers' boards are not ours to list.
    EXPECT_FALSE(socs.contains("BCM2837"));
    // Other-flavour twins and catch-alls drop out; variants stay, in order.
    for (auto it = names.cbegin(); it != names.cend(); ++it) {
        EXPECT_EQ(QSet<QString>(it->begin(), it->end()).size(), it->size()) << it.key().toStdString();
        for (const QString &n : *it)
            EXPECT_FALSE(n.startsWith("Unknow")) << n.toStdString();
    }
    EXPECT_EQ(names["H5"].mid(0, 2), QStringList({"Quill-H5", "Quill-H5 Plus"}));
}
