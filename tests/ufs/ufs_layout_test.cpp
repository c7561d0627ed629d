// Layout arithmetic and the configuration descriptor's device layouts,
// checked against values worked out by hand.
#include "storage/ufs.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

std::vector<uint8_t> geometry(uint64_t rawSectors, uint32_t segment, uint8_t auSegments,
                              uint8_t factor, uint32_t wbUnits, size_t len = 0x57)
{
    std::vector<uint8_t> g(len, 0);
    g[0] = static_cast<uint8_t>(len);
    g[1] = 7;
    for (int i = 0; i < 8; i++)
        g[4 + i] = static_cast<uint8_t>(rawSectors >> (56 - 8 * i));
    for (int i = 0; i < 4; i++)
        g[0x0D + i] = static_cast<uint8_t>(segment >> (24 - 8 * i));
    g[0x11] = auSegments;
    g[0x30] = factor;
    if (len >= 0x53)
        for (int i = 0; i < 4; i++)
            g[0x4F + i] = static_cast<uint8_t>(wbUnits >> (24 - 8 * i));
    return g;
}

ufs_layout_plan plan(const std::vector<uint8_t> &g, int *ret)
{
    ufs_layout_plan p;
    *ret = ufs_plan_layout(g.data(), static_cast<int>(g.size()), &p);
    return p;
}

} // namespace

// The 64 GiB and 61071360-sector geometries are worked out in
// ufs_init_test.cpp, in the bytes of the descriptor written.
TEST(UfsLayoutPlan, HandComputedGeometriesAndRefusals)
{
    int ret = 0;
    // AU 2 x 1500 = 3000 sectors, factor 3: boot ceil(24576/3000) = 9,
    // small ceil(49152/3000) = 17; 10^9 sectors / 3000 = 333333 AUs,
    // data 333333 - 18 - 17 = 333298.
    ufs_layout_plan p = plan(geometry(1000000000ull, 1500, 2, 3, 0), &ret);
    ASSERT_EQ(ret, 0);
    EXPECT_EQ(p.au, 3000u);
    EXPECT_EQ(p.n_boot, 9u);
    EXPECT_EQ(p.n_small, 17u);
    EXPECT_EQ(p.n_data, 333298u);
    EXPECT_EQ(p.wb_units, 0u);

    // A short (72-byte) geometry has no write-booster field; nothing past
    // its end is read.
    std::vector<uint8_t> shortGeo = geometry(61071360ull, 1024, 1, 2, 0, 0x48);
    shortGeo.resize(0x60, 0xEE);
    p = {};
    ASSERT_EQ(ufs_plan_layout(shortGeo.data(), 0x48, &p), 0);
    EXPECT_EQ(p.wb_units, 0u);

    // 4 TiB raw (2^33 sectors): the low 32 bits of the capacity are zero, the
    // data LU must still get 2^33 / 8192 - 4 = 1048572 AUs.
    p = plan(geometry(1ull << 33, 1024, 8, 1, 0), &ret);
    ASSERT_EQ(ret, 0);
    EXPECT_EQ(p.n_data, 1048572u);

    testing::internal::CaptureStderr();
    // AU 0 twice, factor 0 (empty boot LUs), boot + small taking all 4 AUs,
    // and 3 AUs (would underflow).
    for (const auto &g : {geometry(64ull << 21, 0, 8, 1, 0), geometry(64ull << 21, 1024, 0, 1, 0),
                          geometry(64ull << 21, 1024, 8, 0, 0), geometry(4ull * 8192, 1024, 8, 1, 0),
                          geometry(3ull * 8192, 1024, 8, 1, 0)}) {
        plan(g, &ret);
        EXPECT_EQ(ret, -1);
    }
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Err: invalid geometry: allocation unit 0 sectors"), std::string::npos) << err;
    EXPECT_NE(err.find("cannot hold the layout"), std::string::npos) << err;
    // Five allocation units leave one for the data LU.
    p = plan(geometry(5ull * 8192, 1024, 8, 1, 0), &ret);
    EXPECT_EQ(ret, 0);
    EXPECT_EQ(p.n_data, 1u);
}

// Spreading and packing the short and full layouts are checked byte for byte
// by the provisioning runs in ufs_init_test.cpp (kept bytes included).
TEST(UfsConfLayout, FullLayoutWhateverTheDeviceClaimsAndRefusals)
{
    // 230 bytes go through unchanged whatever the device descriptor claims.
    const std::vector<uint8_t> full = testsupport::patternBytes(230, 9);
    ufs_configuration_descriptor conf;
    ASSERT_EQ(ufs_conf_spread(full.data(), 230, 16, 16, &conf), 0);
    std::vector<uint8_t> fullBack(230, 0);
    ASSERT_EQ(ufs_conf_pack(&conf, 230, 16, 16, fullBack.data()), 0);
    EXPECT_EQ(fullBack, full);

    const std::vector<uint8_t> dev = testsupport::patternBytes(144, 7);
    std::vector<uint8_t> back(144, 0xAA);
    // Layouts that do not add up, or cannot hold the provisioning fields, or
    // would overrun the 230-byte slots, are refused.
    EXPECT_EQ(ufs_conf_spread(dev.data(), 144, 16, 17, &conf), -1);
    EXPECT_EQ(ufs_conf_spread(dev.data(), 144, 24, 15, &conf), -1);   // header > 22
    EXPECT_EQ(ufs_conf_spread(dev.data(), 144, 8, 17, &conf), -1);    // header < 11
    EXPECT_EQ(ufs_conf_spread(dev.data(), 104, 8 + 0, 12, &conf), -1);
    EXPECT_EQ(ufs_conf_spread(dev.data(), 0, 0, 0, &conf), -1);
    EXPECT_EQ(ufs_conf_pack(&conf, 151, 22, 16, back.data()), -1);
}

TEST(UfsConfLayout, ComparisonCoversProvisioningFieldsOnly)
{
    ufs_configuration_descriptor a;
    memset(&a, 0, sizeof a);
    ufs_configuration_descriptor b = a;
    uint8_t *y = reinterpret_cast<uint8_t *>(&b);
    // Fields that count: header 3..10, 16..21; unit bytes 0..12, all 8 units.
    for (int off : {3, 4, 9, 10, 16, 17, 21, 22 + 0, 22 + 7, 22 + 12, 22 + 26 * 7 + 11}) {
        b = a;
        y[off] = 1;
        EXPECT_TRUE(ufs_conf_differs(&a, &b, 22, 26)) << off;
    }
    // Fields provisioning never sets (header 0..2 and 11..15, unit 13..25).
    for (int off : {0, 1, 2, 11, 15, 22 + 13, 22 + 25, 22 + 26 * 7 + 20}) {
        b = a;
        y[off] = 1;
        EXPECT_FALSE(ufs_conf_differs(&a, &b, 22, 26)) << off;
    }
    // In a 16-byte header the write-booster fields do not exist.
    b = a;
    y[16] = 1;
    y[18] = 1;
    EXPECT_FALSE(ufs_conf_differs(&a, &b, 16, 16));
    y[10] = 1;
    EXPECT_TRUE(ufs_conf_differs(&a, &b, 16, 16));
}
