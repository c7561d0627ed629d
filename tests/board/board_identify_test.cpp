// Identification of the running board from cpuinfo, board/info and the
// Allwinner board id, against fixture files of a simulated board.
#include <gtest/gtest.h>

#include "board/allwinnerboardid.h"
#include "board/boardhardwareinfo.h"
#include "simboard.h"

namespace {

std::string name(const BoardHardwareInfo *b)
{
    return b ? b->boardName.toStdString() : std::string("<null>");
}

const char *kArmCpuinfo =
    "processor\t: 0\n"
    "model name\t: ARMv7 Processor rev 5 (v7l)\n"
    "CPU implementer\t: 0x41\n"
    "CPU revision\t: 5\n"
    "\n";

} // namespace

TEST(BoardIdentify, RevisionIsHexAndSelectsTheFamilyRow)
{
    SimBoard sim;
    sim.put("proc/cpuinfo", std::string(kArmCpuinfo) + "Hardware\t: corvanta-s5p4418\nRevision\t: 000a\n");
    EXPECT_EQ(name(GetBoardType()), "Tern-Q4 Plus (2GB)");
    EXPECT_EQ(GetBoardType()->boardRevision, 10);

    // Case of the hardware key does not matter; a later line overrides.
    sim.put("proc/cpuinfo", "Hardware : nothing\nRevision : 0\nHardware : CORVANTA-S5P6818\nRevision : 0003\n");
    EXPECT_EQ(name(GetBoardType()), "Tern-X8 Pro (2GB)");
}

TEST(BoardIdentify, CatchAllThenUnknownWithHardware)
{
    SimBoard sim;
    sim.put("proc/cpuinfo", "Hardware : corvanta-s5p6818\nRevision : 0050\n");
    BoardHardwareInfo *b = GetBoardType();
    EXPECT_EQ(name(b), "Unknow6818");
    EXPECT_EQ(b->boardRevision, -1);

    // RK3576 has no catch-all row: an unknown revision gives the record
    // named after the hardware key.
    sim.put("sys/devices/platform/board/info", "Hardware : Corvanta-RK3576\nRevision : 0077\n");
    b = GetBoardType();
    EXPECT_EQ(name(b), "corvanta-rk3576");
    EXPECT_EQ(b->boardKey, "corvanta-rk3576");
    EXPECT_EQ(b->cpuName, "Unknow");
    EXPECT_EQ(b->socVendor, "Unknow");
    EXPECT_EQ(b->makerKey, "unknow");
    EXPECT_EQ(b->emmcMode, 0);
    EXPECT_FALSE(b->onboardIsUFS);
    EXPECT_FALSE(b->isRockchipCPU());
    EXPECT_FALSE(gAllBoardHardwareInfo.contains(b));
    // Reused and rewritten on the next call.
    sim.put("sys/devices/platform/board/info", "Hardware : mystery-soc\nRevision : 1\n");
    EXPECT_EQ(GetBoardType(), b);
    EXPECT_EQ(name(b), "mystery-soc");
}

TEST(BoardIdentify, PlainUnknownWhenRevisionMissingOrNotHex)
{
    SimBoard sim;
    // No cpuinfo at all.
    BoardHardwareInfo *b = GetBoardType();
    EXPECT_EQ(name(b), "unknow");
    EXPECT_EQ(b->boardKey, "unknow");
    EXPECT_EQ(b->cpuName, "Unknow");
    // A family in the table but neither "revision" nor "cpu revision"; a
    // revision that is not hex; a revision without hardware.
    for (const char *text : {"processor : 0\nHardware : corvanta-s5p4418\n",
                             "Hardware : corvanta-s5p4418\nRevision : 00zz\n", "Revision : 0000\n"}) {
        sim.put("proc/cpuinfo", text);
        EXPECT_EQ(name(GetBoardType()), "unknow") << text;
    }
}

TEST(BoardIdentify, CpuRevisionStandsInForAMissingRevision)
{
    SimBoard sim;
    sim.put("proc/cpuinfo", std::string(kArmCpuinfo) + "Hardware : corvanta-s5p4418\n");
    // CPU revision 5 → the S5P4418 row with revision 5.
    EXPECT_EQ(name(GetBoardType()), "Tern-Q4 Ember");
}

TEST(BoardIdentify, A64NeedsNoRevision)
{
    SimBoard sim;
    sim.put("proc/cpuinfo", "processor : 0\nHardware : sun50iw1p1\n");
    EXPECT_EQ(name(GetBoardType()), "Quill-A64");
    sim.put("proc/cpuinfo", "Hardware : sun50iw1p1\nRevision : 00zz\n");
    EXPECT_EQ(name(GetBoardType()), "Quill-A64");
}

TEST(BoardIdentify, AllwinnerBoardIdBeatsRevision)
{
    SimBoard sim;
    sim.put("proc/cpuinfo", "Hardware : sun8i\nRevision : 0003\n");
    // Without a board id the revision decides.
    EXPECT_EQ(name(GetBoardType()), "Quill-H1 Twin");

    sim.put("sys/class/sunxi_info/sys_info",
            "sunxi_platform    : Sun8iw7p1\nsunxi_chipid      : 2c21020e786746240000540000000000\n"
            "sunxi_board_id    : 7(0)\n");
    EXPECT_EQ(readAllwinnerBoardID(), "7(0)");
    BoardHardwareInfo *b = GetBoardType();
    EXPECT_EQ(name(b), "Quill-H1 LTS");
    EXPECT_EQ(b->cpuinfoHardware, "sun8i");

    // The other kernel flavour finds the twin row of the same model.
    sim.put("proc/cpuinfo", "Hardware : Allwinnersun8iFamily\nRevision : 0003\n");
    b = GetBoardType();
    EXPECT_EQ(name(b), "Quill-H1 LTS");
    EXPECT_EQ(b->cpuinfoHardware, "Allwinnersun8iFamily");

    // An id no row carries falls back to the revision.
    sim.put("sys/class/sunxi_info/sys_info", "sunxi_board_id : 99(0)\n");
    EXPECT_EQ(name(GetBoardType()), "Quill-H1 Twin");

    // H5: the id also wins there; a line with three parts is not the id.
    sim.put("proc/cpuinfo", "Hardware : sun50iw2\nRevision : 0000\n");
    sim.put("sys/class/sunxi_info/sys_info", "sunxi_board_id : 4(0) : x\nSUNXI_BOARD_ID:   2(0)\n");
    EXPECT_EQ(readAllwinnerBoardID(), "2(0)");
    EXPECT_EQ(name(GetBoardType()), "Quill-H5 Lark");
}

TEST(BoardIdentify, BoardInfoShadowsCpuinfo)
{
    SimBoard sim;
    sim.put("proc/cpuinfo", "Hardware : sun8i\nRevision : 0000\n");
    EXPECT_EQ(name(GetBoardType()), "Quill-H1");

    sim.put("sys/devices/platform/board/info", "Hardware : corvanta-rk3399\nRevision : 0004\nSerial : ABCDEF0123\n");
    BoardHardwareInfo *b = GetBoardType();
    EXPECT_EQ(name(b), "Alpha-R4 Pro");
    EXPECT_EQ(b->getCPUID(), "abcdef0123");

    // board/info present but saying nothing: cpuinfo is not read at all.
    sim.put("sys/devices/platform/board/info", "");
    EXPECT_EQ(name(GetBoardType()), "unknow");
}

TEST(BoardIdentify, CpuSerialAndId)
{
    SimBoard sim;
    sim.put("proc/cpuinfo", "Serial : 1111\nprocessor : 0\nSerial\t: 02C000815E3F  \n");
    EXPECT_EQ(BoardHardwareInfo::getCPUSerialNum("/nonexistent"), "");
    EXPECT_EQ(SimBoard::row("Quill-H1")->getCPUID(), "02c000815e3f");
    // Rockchip without a serial line in board/info.
    sim.put("sys/devices/platform/board/info", "Hardware : corvanta-rk3568\nRevision : 0\n");
    EXPECT_EQ(SimBoard::row("Alpha-R2")->getCPUID(), "");
    sim.put("sys/devices/platform/cpu/uuid", "1a2b:3c4d:5e6f:7a8b\n");
    EXPECT_EQ(SimBoard::row("Tern-Q4")->getCPUID(), "1a2b3c4d5e6f7a8b");
    EXPECT_EQ(SimBoard::row("BCM2837 Board")->getCPUID(), "");   // no rule
}

TEST(BoardRecord, CopyLeavesTheWifiAddressCacheBehind)
{
    SimBoard sim;
    BoardHardwareInfo *src = SimBoard::row("Alpha-G1");
    src->wifiMacCache = "00:11:22:33:44:55";
    BoardHardwareInfo *copy = BoardHardwareInfo::newOne(src);
    EXPECT_EQ(copy->boardName, src->boardName);
    EXPECT_EQ(copy->DTSFileName, src->DTSFileName);
    EXPECT_TRUE(copy->wifiMacCache.isEmpty());
    delete copy;
    src->wifiMacCache.clear();
}
