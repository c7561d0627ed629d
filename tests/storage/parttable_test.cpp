// Partition tables judged by sfdisk, sgdisk -v and libblkid (partx, blkid);
// our MBR reader against tables sfdisk wrote.
#include "storage/parttable.h"
#include "storage_fixture.h"

#include <cstring>
#include <sstream>

using namespace testsupport;

namespace {
constexpr int64_t DISK = 131072;   // 64 MiB in 512-byte sectors

struct ToolPart
{
    int64_t start = 0, size = 0;
    std::string type, name, uuid;
};

// "start size type [name uuid]" lines.
std::vector<ToolPart> toolParts(std::istream &in, bool named)
{
    std::vector<ToolPart> v;
    ToolPart p;
    while (in >> p.start >> p.size >> p.type && (!named || in >> p.name >> p.uuid))
        v.push_back(p);
    return v;
}

// `sfdisk --json` through Python's json module ("-" for no name or uuid).
std::vector<ToolPart> sfdiskParts(const std::string &image, std::string *label = nullptr)
{
    const CmdResult r = run("sfdisk --json " + shq(image) + " | python3 -c 'import json, sys\n"
                            "t = json.load(sys.stdin)[\"partitiontable\"]\n"
                            "print(t[\"label\"])\n"
                            "for p in t.get(\"partitions\", []):\n"
                            "    print(p[\"start\"], p[\"size\"], p[\"type\"], p.get(\"name\", \"-\"), "
                            "p.get(\"uuid\", \"-\").lower())'");
    std::istringstream in(r.status == 0 ? r.out : "");
    std::string l;
    in >> l;
    if (label)
        *label = l;
    return toolParts(in, true);
}

std::vector<ToolPart> partxParts(const std::string &image)
{
    std::istringstream in(run("partx -g -r -o START,SECTORS,TYPE " + shq(image)).out);
    return toolParts(in, false);
}

// mmc_write/mmc_read onto an image file.
part_write_fn fileWriter(const std::string &image, int *writes = nullptr)
{
    return [image, writes](const char *, int64_t off, int64_t len, const void *buf) -> int64_t {
        if (writes)
            ++*writes;
        const uint8_t *bytes = static_cast<const uint8_t *>(buf);
        writeBytes(image, uint64_t(off), std::vector<uint8_t>(bytes, bytes + len));
        return len;
    };
}

part_read_fn fileReader(const std::string &image)
{
    return [image](const char *, int64_t off, int64_t len, void *buf) -> int64_t {
        const std::vector<uint8_t> bytes = readBytes(image, uint64_t(off), size_t(len));
        memcpy(buf, bytes.data(), bytes.size());
        return int64_t(bytes.size());
    };
}

// n partitions of 1 MiB, each 2 MiB apart (room for an EBR before each).
std::vector<mbr_part> layout(int n, bool growLast)
{
    std::vector<mbr_part> v;
    for (int i = 0; i < n; ++i)
        v.push_back({2048 + i * 4096, 2048});
    if (growLast)
        v.back().size = 0;
    return v;
}

// Table sector with one entry (slot 0-3) and the boot signature.
std::vector<uint8_t> tableSector(int slot, uint8_t type, uint32_t start, uint32_t size)
{
    std::vector<uint8_t> s(512, 0);
    s[446 + 16 * slot + 4] = type;
    memcpy(&s[446 + 16 * slot + 8], &start, 4);
    memcpy(&s[446 + 16 * slot + 12], &size, 4);
    s[510] = 0x55;
    s[511] = 0xAA;
    return s;
}

// Type, start and size of the four entries at `sector` (tools differ on CHS).
std::vector<uint8_t> entryFields(const std::string &image, int64_t sector)
{
    std::vector<uint8_t> s = readBytes(image, uint64_t(sector) * 512 + 446, 64);
    for (size_t i = 0; i < 64; ++i)
        s[i] = i % 16 == 4 || i % 16 >= 8 ? s[i] : 0;
    return s;
}

partinfo part(int64_t start, int64_t size, const char *name, const char *uuid = "", int bootable = 0)
{
    partinfo p{};
    p.start = start;
    p.size = size;
    p.bootable = bootable;
    snprintf(p.name, sizeof p.name, "%s", name);
    snprintf(p.uuid, sizeof p.uuid, "%s", uuid);
    return p;
}

class TableTest : public StorageTest
{
protected:
    void SetUp() override
    {
        StorageTest::SetUp();
        for (const char *tool : {"sfdisk", "sgdisk", "partx", "blkid"})
            if (!haveTool(tool))
                GTEST_SKIP() << tool << " missing";
        m_img = makeTarget("disk.img", DISK * 512);
    }
    // Entries as our own reader lists them (at most `max`): start, size, type.
    std::vector<std::vector<uint32_t>> readTable(int max = 32)
    {
        std::vector<mbr_entry> v(static_cast<size_t>(max));
        int count = 0;
        EXPECT_EQ(disk_part_table_info("disk", 0, 0, v.data(), &count, max, fileReader(m_img)), 0);
        std::vector<std::vector<uint32_t>> rows;
        for (int i = 0; i < count; ++i)
            rows.push_back({v[size_t(i)].start, v[size_t(i)].size, v[size_t(i)].type});
        return rows;
    }
    void expectClean(const std::string &target)
    {
        CmdResult v = run("sgdisk -v " + shq(target));
        EXPECT_NE(v.out.find("No problems found"), std::string::npos) << v.out << v.err;
        CmdResult s = run("sfdisk --verify " + shq(target));
        EXPECT_EQ(s.status, 0);
        EXPECT_EQ(s.err, "") << s.out;
    }
    std::string m_img;
};
using MbrTest = TableTest;
using GptTest = TableTest;
} // namespace

TEST_F(MbrTest, ChainsOfOneToEightPartitionsReadBackExactly)
{
    // Six partitions leave a gap of 10 MiB before the extended container.
    for (int n : {1, 3, 4, 5, 6, 8}) {
        for (bool grow : {false, true}) {
            SCOPED_TRACE(std::to_string(n) + (grow ? " grow" : ""));
            m_img = makeTarget("disk.img", DISK * 512);
            std::vector<mbr_part> parts = layout(n, grow);
            for (size_t i = 3; n == 6 && i < parts.size(); ++i)
                parts[i].start += 20480;
            // Data already in the partitions must stay: only table sectors change.
            const std::vector<uint8_t> marker = patternBytes(512, 4);
            for (const mbr_part &p : parts)
                writeBytes(m_img, p.start * 512, marker);
            EXPECT_EQ(disk_part_table_make("disk", DISK, parts.data(), n, fileWriter(m_img)), 512);
            for (const mbr_part &p : parts)
                EXPECT_EQ(readBytes(m_img, p.start * 512, 512), marker) << p.start;

            CmdResult verify = run("sfdisk --verify " + shq(m_img));
            EXPECT_EQ(verify.status, 0) << verify.out << verify.err;
            EXPECT_EQ(verify.err, "");
            EXPECT_NE(run("blkid -p " + shq(m_img)).out.find("PTTYPE=\"dos\""), std::string::npos);

            // After the third: the extended container, first EBR to disk end.
            std::vector<std::string> want;
            for (int i = 0; i < n; ++i) {
                const int64_t start = parts[i].start, size = parts[i].size ? parts[i].size : DISK - start;
                if (i == 3 && n > 4)
                    want.push_back(std::to_string(start - 2048) + " " + std::to_string(DISK - start + 2048) + " 5");
                want.push_back(std::to_string(start) + " " + std::to_string(size) + " 83");
            }
            for (const auto &seen : {sfdiskParts(m_img), partxParts(m_img)}) {
                std::vector<std::string> got;
                for (const ToolPart &p : seen)
                    got.push_back(std::to_string(p.start) + " " + std::to_string(p.size) + " " +
                                  p.type.substr(p.type.find("0x") == 0 ? 2 : 0));
                EXPECT_EQ(got, want);
            }

            // EBR links (which the readers above pass over) as sfdisk writes them.
            const std::string peer = makeTarget("peer.img", DISK * 512);
            ASSERT_EQ(run("sfdisk -d " + shq(m_img) + " | sfdisk -q " + shq(peer)).status, 0);
            for (int i = 3; i < n && n > 4; ++i)
                EXPECT_EQ(entryFields(m_img, parts[i].start - 2048), entryFields(peer, parts[i].start - 2048))
                    << "EBR of partition " << i + 1;
        }
    }
}

TEST_F(MbrTest, BadLayoutsFailWithNothingWritten)
{
    struct Case
    {
        const char *what;
        std::vector<mbr_part> parts;
    };
    std::vector<Case> cases = {
        {"start 0", {{0, 2048}}},
        {"second before end of first", {{2048, 4096}, {4096, 2048}}},
        {"past the disk", {{2048, 2048}, {4096, int32_t(DISK)}}},
        {"start beyond disk", {{int32_t(DISK) + 10, 0}}},
        {"extended over third", {{2048, 2048}, {4096, 2048}, {6144, 2048}, {8192, 2048}, {12288, 2048}}},
        {"logical overlap", {{2048, 2048}, {6144, 2048}, {10240, 2048}, {14336, 2048}, {18432, 8192}, {22528, 2048}}},
        {"logical EBR inside previous", {{2048, 2048}, {6144, 2048}, {10240, 2048}, {14336, 2048}, {17408, 2048}}},
        {"logical past the disk", {{2048, 2048}, {6144, 2048}, {10240, 2048}, {14336, 2048}, {18432, int32_t(DISK)}}},
        {"logical start 0", {{2048, 2048}, {6144, 2048}, {10240, 2048}, {14336, 2048}, {0, 2048}}},
    };
    std::vector<mbr_part> tooMany = layout(33, false);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        int writes = 0;
        EXPECT_EQ(disk_part_table_make("disk", DISK, c.parts.data(), int(c.parts.size()), fileWriter(m_img, &writes)),
                  -1);
        EXPECT_EQ(writes, 0);
    }
    int writes = 0;
    EXPECT_EQ(disk_part_table_make("disk", DISK * 4, tooMany.data(), 33, fileWriter(m_img, &writes)), -1);
    EXPECT_EQ(disk_part_table_make("disk", DISK, tooMany.data(), 0, fileWriter(m_img, &writes)), -1);
    EXPECT_EQ(writes, 0);
    EXPECT_TRUE(zeroAt(m_img, 0, DISK * 512));
    EXPECT_NE(log().find("overlapped part table"), std::string::npos);
    EXPECT_EQ(disk_part_table_make("disk", DISK, tooMany.data(), 1, nullptr), -EINVAL);
    // A failing write ends the job with its result, nothing more is tried.
    int calls = 0;
    const part_write_fn failSecond = [&](const char *, int64_t, int64_t len, const void *) -> int64_t {
        return ++calls == 2 ? -EIO : len;
    };
    EXPECT_EQ(disk_part_table_make("disk", DISK, tooMany.data(), 6, failSecond), -EIO);
    EXPECT_EQ(calls, 2);
}

TEST_F(MbrTest, ReaderSeesSfdiskTablesAndStopsAtArraySizeAndLoopingChains)
{
    CmdResult r = run("printf 'label: dos\\n2048,4096,83\\n6144,4096,c\\n10240,,5\\n12288,2048,83\\n16384,,82\\n' | "
                      "sfdisk -q " + shq(m_img));
    ASSERT_EQ(r.status, 0) << r.err;
    const uint32_t D = DISK;
    EXPECT_EQ(readTable(), (std::vector<std::vector<uint32_t>>{
                               {2048, 4096, 0x83}, {6144, 4096, 0x0C}, {10240, D - 10240, 0x05},
                               {12288, 2048, 0x83}, {16384, D - 16384, 0x82}}));

    r = run("printf 'label: gpt\\n2048,4096\\n' | sfdisk -q --wipe always " + shq(m_img));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readTable(), (std::vector<std::vector<uint32_t>>{{1, D - 1, 0xEE}}));

    // Our own chain: the reader stops at the array's size and at looping chains.
    const std::vector<mbr_part> parts = layout(8, false);
    ASSERT_EQ(disk_part_table_make("disk", DISK, parts.data(), 8, fileWriter(m_img)), 512);
    EXPECT_EQ(readTable(4).size(), 4u);

    // The first EBR linking to itself: the walk must end.
    const int64_t firstEbr = parts[3].start - 2048;
    std::vector<uint8_t> ebr = readBytes(m_img, firstEbr * 512, 512);
    memset(&ebr[446 + 16 + 8], 0, 4);
    writeBytes(m_img, firstEbr * 512, ebr);
    EXPECT_EQ(readTable().size(), 5u);   // three primaries, the extended entry, one logical
    EXPECT_NE(log().find("loops back"), std::string::npos);

    // A chain of empty EBRs, each linking to the next, ends too.
    const uint32_t base = 2048;
    writeBytes(m_img, 0, tableSector(0, 0x05, base, 100000));
    for (uint32_t i = 0; i < 200; ++i)
        writeBytes(m_img, (base + i * 8) * 512, tableSector(1, 0x05, (i + 1) * 8, 0));
    EXPECT_EQ(readTable().size(), 1u);
    EXPECT_NE(log().find("longer than"), std::string::npos);

    mbr_entry all[32];
    int count = 0;
    EXPECT_EQ(disk_part_table_info("disk", 0, 0, all, &count, 32, nullptr), -EINVAL);
    const part_read_fn failing = [](const char *, int64_t, int64_t, void *) -> int64_t { return -EIO; };
    count = 0;
    EXPECT_EQ(disk_part_table_info("disk", 0, 0, all, &count, 32, failing), -EIO);
}

TEST_F(GptTest, LayoutsAreValidTablesWithBothHeaders)
{
    const char *fixed = "0fc63daf-8483-4772-8e79-3d69d8477de4";
    std::vector<partinfo> twenty;
    for (int i = 0; i < 20; ++i)
        twenty.push_back(part(i == 0 ? 2048 : 0, 2048, ("part" + std::to_string(i)).c_str()));
    const struct
    {
        int64_t disk;
        std::vector<partinfo> parts;
        std::vector<int64_t> starts, ends;   // as sfdisk lists them (ends exclusive)
    } cases[] = {
        {DISK, {}, {}, {}},
        {DISK, {twenty[0]}, {2048}, {4096}},
        {DISK, twenty, {}, {}},
        // Grown to the last usable LBA; a fixed UUID, a bootable entry.
        {DISK,
         {part(8192, 16384, "boot", "", 1), part(0, 8192, "rootfs", fixed), part(0, 0, "userdata")},
         {8192, 24576, 32768},
         {24576, 32768, DISK - 33}},
        // A Rockchip-style first entry grows, placed last.
        {16 * DISK,
         {part(65536, 0, "userdata"), part(8192, 8192, "uboot"), part(16384, 8192, "boot")},
         {65536, 8192, 16384},
         {(16 * DISK - 34) / 0x2000 * 0x2000, 16384, 24576}},
    };
    std::vector<std::string> firstGuids, diskGuids;   // sgdisk's view of the first entry, of the disk
    for (const auto &c : cases) {
        const int n = int(c.parts.size());
        SCOPED_TRACE(n);
        m_img = makeTarget("disk.img", c.disk * 512);
        ASSERT_EQ(gpt_part_table_make("disk", c.disk, 512, c.parts.data(), n, fileWriter(m_img)), 0);
        expectClean(m_img);
        std::string label;
        const std::vector<ToolPart> seen = sfdiskParts(m_img, &label);
        EXPECT_EQ(label, "gpt");
        ASSERT_EQ(seen.size(), static_cast<size_t>(n));
        for (int i = 0; i < n; ++i) {
            EXPECT_EQ(seen[i].start, c.starts.empty() ? 2048 + i * 2048 : c.starts[size_t(i)]);
            EXPECT_EQ(seen[i].start + seen[i].size, c.ends.empty() ? 4096 + i * 2048 : c.ends[size_t(i)]);
            EXPECT_EQ(seen[i].name, c.parts[size_t(i)].name);
            if (*c.parts[size_t(i)].uuid)
                EXPECT_EQ(seen[i].uuid, c.parts[size_t(i)].uuid);
            if (c.parts[size_t(i)].bootable) {
                EXPECT_NE(run("sfdisk --json " + shq(m_img)).out.find("LegacyBIOSBootable"), std::string::npos);
                const CmdResult info = run("sgdisk -i " + std::to_string(i + 1) + " " + shq(m_img));
                EXPECT_NE(info.out.find("0000000000000004"), std::string::npos) << info.out;
            }
        }
        EXPECT_EQ(readBytes(m_img, 446 + 4, 1)[0], 0xEE);   // protective MBR
        diskGuids.push_back(run("sgdisk -p " + shq(m_img) + " | grep -i 'disk identifier'").out);
        if (n > 0) {
            EXPECT_EQ(seen[0].uuid[14], '4');
            firstGuids.push_back(run("sgdisk -i 1 " + shq(m_img)).out);
        }
    }
    // Each run draws new version 4 GUIDs.
    EXPECT_NE(firstGuids[0], firstGuids[1]);
    EXPECT_TRUE(diskGuids[0] != diskGuids[1] && diskGuids[1] != diskGuids[2]) << diskGuids[0] << diskGuids[1];
    uint8_t g[16];
    ASSERT_EQ(gen_rand_uuid(g), 0);
    EXPECT_EQ(g[7] >> 4, 4);
    EXPECT_EQ(g[8] & 0x80, 0x80);
}

TEST_F(GptTest, BadLayoutsFailWithNothingWritten)
{
    struct Case
    {
        const char *what;
        std::vector<partinfo> parts;
    };
    const std::vector<Case> cases = {
        {"over the header", {part(1, 100, "a")}},
        {"over the entry array", {part(20, 100, "a")}},
        {"past the disk", {part(2048, DISK, "a")}},
        {"entries overlap", {part(2048, 8192, "a"), part(4096, 2048, "b")}},
        {"size zero in the middle", {part(2048, 0, "a"), part(8192, 2048, "b")}},
        {"first entry to grow without room", {part(65536, 0, "u"), part(8192, 8192, "a"), part(16384, 8192, "b")}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        int writes = 0;
        EXPECT_EQ(gpt_part_table_make("disk", DISK, 512, c.parts.data(), int(c.parts.size()), fileWriter(m_img, &writes)),
                  -1);
        EXPECT_EQ(writes, 0);
    }
    std::vector<partinfo> many(129, part(0, 8, "x"));
    EXPECT_EQ(gpt_part_table_make("disk", DISK, 512, many.data(), 129, fileWriter(m_img)), -1);
    EXPECT_TRUE(zeroAt(m_img, 0, DISK * 512));
    const part_write_fn shortWrite = [](const char *, int64_t, int64_t len, const void *) -> int64_t { return len - 1; };
    EXPECT_EQ(gpt_part_table_make("disk", DISK, 512, nullptr, 0, shortWrite), -EIO);
}

TEST_F(GptTest, FourKiBSectorLoopDevice)
{
    if (const std::string why = loopUnavailableReason(); !why.empty())
        GTEST_SKIP() << why;
    LoopDevice loop(m_img, 4096);
    ASSERT_TRUE(loop.ok()) << loop.error();
    const std::string dev = linkDevice(loop.dev());
    int isBlock = 0, ss = 0;
    const int64_t sectors = get_disk_capacity(dev.c_str(), &isBlock, &ss);
    EXPECT_EQ(sectors, DISK);
    EXPECT_EQ(isBlock, 1);
    ASSERT_EQ(ss, 4096);
    ASSERT_GE(mmc_open(dev.c_str()), 0);
    const std::vector<partinfo> parts = {part(2048, 8192, "boot"), part(0, 0, "rootfs")};
    EXPECT_EQ(gpt_part_table_make(dev.c_str(), sectors, ss, parts.data(), 2, mmc_write), 0);
    EXPECT_EQ(mmc_release(), 0);
    expectClean(loop.dev());
    // 4096-byte sectors: first usable after the 16 KiB array, entry at 2048 / 8.
    EXPECT_NE(sfdiskJson(loop.dev()).find("\"firstlba\":6,"), std::string::npos);
    const std::vector<ToolPart> seen = sfdiskParts(loop.dev());
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].start, 256);
}

// sgdisk -v checks the tables' CRCs; this the chaining callers rely on, and
// upper-case UUID text in the GPT's mixed byte order.
TEST(PartUtil, Crc32ChainsAndUuidText)
{
    EXPECT_EQ(crc32_le(0, "123456789", 9), 0xCBF43926u);
    EXPECT_EQ(crc32_le(crc32_le(0, "1234", 4), "56789", 5), 0xCBF43926u);
    uint8_t out[16];
    ASSERT_EQ(uuid_str_to_bin("00112233-4455-6677-8899-AABBCCDDEEFF", out, 1), 0);
    EXPECT_EQ(memcmp(out, "\x33\x22\x11\x00\x55\x44\x77\x66\x88\x99\xaa\xbb\xcc\xdd\xee\xff", 16), 0);
    uint8_t keep[16];
    memset(keep, 0x5a, 16);
    for (const char *bad : {"", "00112233-4455-6677-8899-aabbccddeef", "00112233-4455-6677-8899-aabbccddeeff0",
                            "0011223-34455-6677-8899-aabbccddeeff", "00112233-4455-6677-8899-aabbccddeefg"}) {
        EXPECT_EQ(uuid_str_to_bin(bad, keep, 1), -EINVAL) << bad;
    }
    EXPECT_EQ(uuid_str_to_bin(nullptr, keep, 1), -EINVAL);
    for (uint8_t b : keep)
        EXPECT_EQ(b, 0x5a);
}
