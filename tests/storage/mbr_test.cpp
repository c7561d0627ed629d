// MBR and EBR chains checked with sfdisk and libblkid (partx, blkid); our
// reader against tables sfdisk wrote.
#include "storage_fixture.h"
#include "table_check.h"

#include <cstring>

using namespace testsupport;

namespace {
constexpr int64_t DISK = 131072;   // 64 MiB in sectors

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

class MbrTest : public StorageTest
{
protected:
    void SetUp() override
    {
        StorageTest::SetUp();
        if (!haveTool("sfdisk") || !haveTool("partx") || !haveTool("blkid"))
            GTEST_SKIP() << "sfdisk, partx or blkid missing";
        m_img = makeTarget("disk.img", DISK * 512);
    }
    // Entries as our own reader lists them (at most `max`).
    std::vector<mbr_entry> readTable(int max = 32)
    {
        std::vector<mbr_entry> v(static_cast<size_t>(max));
        int count = 0;
        EXPECT_EQ(disk_part_table_info("disk", 0, 0, v.data(), &count, max, fileReader(m_img)), 0);
        v.resize(size_t(count));
        return v;
    }
    std::string m_img;
};
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

            // The data partitions as sfdisk and libblkid see them; the
            // extended container from the first EBR to the end of the disk.
            for (const auto &seen : {sfdiskParts(m_img), partxParts(m_img)}) {
                std::vector<ToolPart> data;
                int extended = 0;
                for (const ToolPart &p : seen) {
                    if (p.type != "5" && p.type != "0x5") {
                        data.push_back(p);
                        continue;
                    }
                    ++extended;
                    EXPECT_EQ(p.start, parts[3].start - 2048);
                    EXPECT_EQ(p.start + p.size, DISK);
                }
                EXPECT_EQ(extended, n > 4 ? 1 : 0);
                ASSERT_EQ(data.size(), static_cast<size_t>(n));
                for (int i = 0; i < n; ++i) {
                    EXPECT_EQ(data[i].start, parts[i].start) << i;
                    EXPECT_EQ(data[i].size, parts[i].size ? parts[i].size : DISK - parts[i].start) << i;
                    EXPECT_TRUE(data[i].type == "83" || data[i].type == "0x83") << data[i].type;
                }
            }
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

TEST_F(MbrTest, ReaderSeesTablesWrittenBySfdiskAndProtectiveMbr)
{
    CmdResult r = run("printf 'label: dos\\n2048,4096,83\\n6144,4096,c\\n10240,,5\\n12288,2048,83\\n16384,,82\\n' | "
                      "sfdisk -q " + shq(m_img));
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<mbr_entry> got = readTable();
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(got[0].start, 2048u);
    EXPECT_EQ(got[1].type, 0x0Cu);
    EXPECT_EQ(got[2].type, 0x05u);
    EXPECT_EQ(got[3].start, 12288u);
    EXPECT_EQ(got[3].size, 2048u);
    EXPECT_EQ(got[4].start, 16384u);
    EXPECT_EQ(got[4].size, uint32_t(DISK - 16384));
    EXPECT_EQ(got[4].type, 0x82u);

    r = run("printf 'label: gpt\\n2048,4096\\n' | sfdisk -q --wipe always " + shq(m_img));
    ASSERT_EQ(r.status, 0) << r.err;
    got = readTable();
    ASSERT_GE(got.size(), 1u);
    EXPECT_EQ(got[0].type, 0xEEu);
    EXPECT_EQ(got[0].start, 1u);
}

TEST_F(MbrTest, ReaderStopsAtArraySizeAndAtLoopingChains)
{
    const std::vector<mbr_part> parts = layout(8, false);
    ASSERT_EQ(disk_part_table_make("disk", DISK, parts.data(), 8, fileWriter(m_img)), 512);
    EXPECT_EQ(readTable(4).size(), 4u);

    // Point the first EBR's link back at itself: the walk must end.
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
