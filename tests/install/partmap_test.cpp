// The partition-map reader: line scanning and its refusals.
#include "install/deviceplan.h"
#include "install/partmapline.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

using namespace testsupport;

namespace {

struct ParsedPlan
{
    DevicePlan plan;
    int count = 0;
};

// Parses `text` as the map of a set in /sets/demo for a 1 GiB device.
ParsedPlan parseText(const std::string &text, bool dropUserdata = false)
{
    ParsedPlan p;
    device_plan_reset(&p.plan);
    snprintf(p.plan.imageDir, sizeof(p.plan.imageDir), "/sets/demo");
    snprintf(p.plan.mapFile, sizeof(p.plan.mapFile), "/sets/demo/partmap.txt");
    p.plan.capacity = 1 << 21;
    FILE *fp = fmemopen(const_cast<char *>(text.data()), text.size(), "r");
    DevicePlanOptions options;
    options.dropUserdata = dropUserdata;
    p.count = device_plan_parse(&p.plan, fp, options);
    fclose(fp);
    return p;
}

} // namespace

TEST(PartmapLine, ScansEightOrSevenFieldsAndRefusesBadNumbers)
{
    partmap_line pl;
    ASSERT_EQ(partmap_parse_line("flash=mmc,0:boot:ext4:0x100000,0x4000000:boot.img;\n", &pl), 8);
    EXPECT_STREQ(pl.name, "boot");
    EXPECT_STREQ(pl.type, "ext4");
    EXPECT_EQ(pl.sizeBytes, 0x4000000u);
    EXPECT_STREQ(pl.file, "boot.img");
    // No file: seven fields; hexadecimal without "0x".
    ASSERT_EQ(partmap_parse_line("flash=mmc,0:misc:raw:200000,100000:;\n", &pl), 7);
    EXPECT_EQ(pl.startBytes, 0x200000u);
    EXPECT_STREQ(pl.file, "");

    EXPECT_LT(partmap_parse_line("FIRMWARE_VER: 8.1\n", &pl), 7);
    EXPECT_EQ(partmap_parse_line("flash=mmc,0:boot:ext4:0xZZ,0x100:boot.img;", &pl), -1);
    EXPECT_EQ(partmap_parse_line("flash=mmc,0:boot:ext4:-0x100,0x100:boot.img;", &pl), -1);
    // Overlong fields are cut at the buffer size, never overflowed.
    std::string longName(PARTMAP_FIELD_LEN + 100, 'n');
    ASSERT_LT(partmap_parse_line(("flash=mmc,0:" + longName + ":ext4:0x100000,0x100:x.img;").c_str(), &pl), 7);
}

TEST(DevicePlanParse, UserdataDroppedWithoutOverlayFileSystem)
{
    const std::string map = "flash=mmc,0:rootfs:ext4:0x100000,0x4000000:rootfs.img;\n"
                            "flash=mmc,0:data:ext4:0x4100000,0x0:userdata.img;\n"
                            "flash=mmc,0:userdata:ext4:0x4100000,0x0:;\n";
    EXPECT_EQ(parseText(map, false).count, 3);
    ParsedPlan dropped = parseText(map, true);
    ASSERT_EQ(dropped.count, 1);
    EXPECT_EQ(dropped.plan.mbrCount, 1);
    EXPECT_STREQ(dropped.plan.map_parts[0].name, "rootfs");
}

TEST(DevicePlanParse, RefusesTooManyPartitionsBrokenLinesAndOverflow)
{
    std::string map, rk = "MANUFACTURER: RK3399\nCMDLINE: mtdparts=rk29xxnand:";
    char line[128];
    for (int i = 0; i < 32; ++i) {
        snprintf(line, sizeof(line), "flash=mmc,0:p%d:raw:0x%x,0x100000:;\n", i, (i + 1) * 0x100000);
        map += line;
    }
    for (int i = 0; i < 40; ++i) {
        snprintf(line, sizeof(line), "%s0x800@0x%x(p%d)", i ? "," : "", 0x4000 + i * 0x800, i);
        rk += line;
    }
    EXPECT_EQ(parseText(map).count, 32);
    EXPECT_EQ(parseText(map + "flash=mmc,0:extra:ext4:0x8000000,0x100000:;\n").count, DEVICE_PLAN_TOO_MANY);
    EXPECT_EQ(parseText(rk + "\n").count, DEVICE_PLAN_TOO_MANY);
    EXPECT_EQ(parseText("flash=mmc,0:boot:ext4:0x1000G,0x100:boot.img;\n").count, DEVICE_PLAN_INVALID);
    // A start beyond what the 32-bit MBR fields hold is refused, not wrapped.
    EXPECT_EQ(parseText("flash=mmc,0:boot:ext4:0x200000000000,0x100000:boot.img;\n").count, DEVICE_PLAN_INVALID);
    // The tail after 4095 bytes of a long line is not a line of its own.
    EXPECT_EQ(parseText("# " + std::string(4092, 'x') + "flash=mmc,0:evil:raw:0x0,0x100000:evil.img;\n").count, 0);
}

