// Whole provisioning runs against the device model on a simulated root:
// what is written, byte for byte, and what is never written.
#include "storage/ufs.h"
#include "support/simroot.h"
#include "support/ufsdevicemodel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <tuple>
#include <vector>

using namespace testsupport;
using namespace testing::internal;

namespace {

class UfsInitTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dir.put("dev/bsg/ufs-bsg0", "");
        m_dir.put("sys/class/scsi_host/host0/scan", "");
    }
    std::string scanFile() const { return m_dir.file("sys/class/scsi_host/host0/scan"); }

    int init(int force)
    {
        CaptureStdout();
        CaptureStderr();
        const int ret = ufs_init(force);
        m_out = GetCapturedStdout();
        m_err = GetCapturedStderr();
        return ret;
    }

    // Patterns in everything provisioning must keep: header bytes it never
    // sets, the reserved tail of every unit, and units 4 to 7 (left
    // disabled, bLUEnable 0).
    void fillKeptBytes(int headerLen, int unitLen)
    {
        std::vector<uint8_t> &c = m_model.configDesc;
        for (int i = 11; i < headerLen && i < 16; i++)
            c[i] = static_cast<uint8_t>(0xA0 + i);
        for (int u = 0; u < 8; u++)
            for (int i = (u < 4 ? 13 : 1); i < unitLen; i++)
                c[headerLen + unitLen * u + i] = static_cast<uint8_t>(0x40 + 8 * u + i);
    }

    // What provisioning sets: boot enabled, power mode 1, no high-priority
    // LU; units 0-3 (data, boot A, boot B, small) enabled with their boot id,
    // write protect, memory type, allocation units (BE), reliability, log2
    // block size, provisioning type and context capabilities.
    static void provision(std::vector<uint8_t> &c, int header, int unitLen, uint32_t data, uint32_t boot,
                          uint32_t small)
    {
        c[3] = c[5] = 1;
        c[6] = 0x7F;
        const uint32_t aus[] = {data, boot, boot, small};
        for (int u = 0; u < 4; u++) {
            const uint8_t f[] = {1, uint8_t(u % 3), 0, uint8_t(u ? 3 : 0), uint8_t(aus[u] >> 24), uint8_t(aus[u] >> 16),
                                 uint8_t(aus[u] >> 8), uint8_t(aus[u]), 1, 12, 2, 0, 0};
            std::copy(std::begin(f), std::end(f), c.begin() + header + unitLen * u);
        }
    }

    std::vector<UfsDeviceModel::Request> descWrites() const
    {
        std::vector<UfsDeviceModel::Request> w;
        for (const auto &r : m_model.writes())
            if (r.opcode == UFS_QUERY_OP_WRITE_DESC)
                w.push_back(r);
        return w;
    }
    std::vector<std::pair<int, uint32_t>> attrWrites() const
    {
        std::vector<std::pair<int, uint32_t>> w;
        for (const auto &r : m_model.writes())
            if (r.opcode == UFS_QUERY_OP_WRITE_ATTR)
                w.emplace_back(r.idn, r.value);
        return w;
    }

    SimRoot m_dir;
    UfsDeviceModel m_model;
    UfsTransportGuard m_guard{&m_model};
    std::string m_out, m_err;
};

using AttrWrites = std::vector<std::pair<int, uint32_t>>;

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

TEST_F(UfsInitTest, ProvisionsFactoryDeviceIn230ByteLayout)
{
    fillKeptBytes(22, 26);
    std::vector<uint8_t> expected = m_model.configDesc;
    // 64 GiB / 4 MiB = 16384 AUs: data 16380, boot 1 each, small 2. Write
    // booster shared with 0x100 allocation units; wPeriodicRTCUpdate (9-10) kept.
    provision(expected, 22, 26, 16380, 1, 2);
    expected[16] = expected[17] = expected[20] = 1;
    expected[18] = expected[19] = expected[21] = 0;

    ASSERT_EQ(init(0), 0) << m_err;
    const auto w = descWrites();
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(std::make_tuple(int(w[0].idn), int(w[0].index), int(w[0].length)), std::make_tuple(int(UFS_DESC_CONFIG), 0, 230));
    EXPECT_EQ(w[0].dataOut, expected);
    EXPECT_EQ(attrWrites(), (AttrWrites{{0x00, 1}, {0x0A, 1}}));
    EXPECT_EQ(readFile(scanFile()), "0 - -\n");
    EXPECT_EQ(m_out, "UFS initialized: 4 LUs, boot LU-1\n");
    EXPECT_EQ(m_err, "");
    EXPECT_NE(readFile(m_dir.file("tmp/imgsmith-gui.log")).find("UFS initialized"), std::string::npos);

    // The configuration write precedes the attributes, and the lock was
    // checked before anything was written.
    const auto &rq = m_model.requests;
    const auto first = [&](auto pred) { return std::find_if(rq.begin(), rq.end(), pred) - rq.begin(); };
    EXPECT_LT(first([](const auto &r) { return r.opcode == UFS_QUERY_OP_READ_ATTR && r.idn == UFS_ATTR_CONF_DESC_LOCK; }),
              first([](const auto &r) { return r.opcode == UFS_QUERY_OP_WRITE_DESC; }));
    EXPECT_EQ(m_model.requests.back().opcode, UFS_QUERY_OP_WRITE_ATTR);

    // The next start finds the device provisioned and sends no write; it
    // reads neither geometry nor configuration.
    m_model.requests.clear();
    ASSERT_EQ(init(0), 0);
    EXPECT_TRUE(m_model.writes().empty());
    EXPECT_EQ(m_out, "UFS device stat: 4 LUs, boot LU-1\n");
    for (const auto &r : m_model.requests)
        EXPECT_FALSE(r.opcode == UFS_QUERY_OP_READ_DESC && r.idn != UFS_DESC_DEVICE);

    // Boot LU and clock reset, the LU count not yet updated (as before a
    // reset): the identical configuration is not rewritten, the attributes are.
    m_model.attrs[0x00] = 0;
    m_model.attrs[0x0A] = 2;
    m_model.deviceDesc[ufsdesc::kNumberLU] = 1;
    m_model.requests.clear();
    ASSERT_EQ(init(0), 0) << m_err;
    EXPECT_TRUE(descWrites().empty());
    EXPECT_EQ(attrWrites(), (AttrWrites{{0x00, 1}, {0x0A, 1}}));
    EXPECT_EQ(m_out, "UFS initialized: 4 LUs, boot LU-1\n");
    // A set boot LU and four LUs alone do not make it provisioned.
    m_model.deviceDesc[ufsdesc::kNumberLU] = 4;
    m_model.deviceDesc[ufsdesc::kBootEnable] = 0;
    ASSERT_EQ(init(0), 0);
    EXPECT_EQ(m_out, "UFS initialized: 4 LUs, boot LU-1\n");

    // Forced, a factory configuration is rewritten.
    m_model.requests.clear();
    m_model.configDesc = UfsDeviceModel().configDesc;
    ASSERT_EQ(init(1), 0);
    EXPECT_EQ(descWrites().size(), 1u);
}

TEST_F(UfsInitTest, ProvisionsShortLayoutWithoutLosingBytes)
{
    m_model.useShortLayout();
    // 61071360 sectors, AU 1024, factor 2: boot 16, small 32, data 59576.
    m_model.setGeometry(61071360ull, 1024, 1, 2, 0);
    fillKeptBytes(16, 16);
    m_model.configDesc[9] = 0x12;
    m_model.configDesc[10] = 0x34;
    m_model.attrs[0x0A] = 1;
    std::vector<uint8_t> expected = m_model.configDesc;
    provision(expected, 16, 16, 59576, 16, 32);

    ASSERT_EQ(init(0), 0) << m_err;
    const auto w = descWrites();
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(w[0].length, 144);
    EXPECT_EQ(w[0].dataOut, expected);
    // The clock was already right; only the boot LU is set.
    EXPECT_EQ(attrWrites(), (AttrWrites{{0x00, 1}}));

    // Run again with force: the stored configuration equals the wanted one
    // in every byte the short layout holds, so it is not written again.
    m_model.requests.clear();
    ASSERT_EQ(init(1), 0) << m_err;
    EXPECT_TRUE(m_model.writes().empty());
}

TEST_F(UfsInitTest, LockedOrUnreadableDeviceNeverWritten)
{
    const std::pair<std::function<void(UfsDeviceModel &)>, const char *> cases[] = {
        {[](auto &m) { m.attrs[UFS_ATTR_CONF_DESC_LOCK] = 1; }, "Err: configuration descriptor is locked"},
        {[](auto &m) { m.forcedResponse[{UFS_QUERY_OP_READ_ATTR, 0x0B}] = 0xF6; }, "Err: Parameter not readable, for idn 0x0b"},
        {[](auto &m) { m.forcedResponse[{UFS_QUERY_OP_READ_DESC, 1}] = 0xFF; }, "Err: General failure, for idn 0x01"},
        {[](auto &m) { m.configDesc.resize(0xC0); m.configDesc[0] = 0xC0; }, "Err: Unofficial Config desc size, len = 0xc0"},
        {[](auto &m) { m.forcedResponse[{UFS_QUERY_OP_READ_DESC, 7}] = 0xFD; }, "Err: Invalid IDN, for idn 0x07"},
        {[](auto &m) { m.failErrnos = {EINTR, EIO}; }, "read bBootLunEn fail. ret = -1"},   // transport error
        {[](auto &m) { m.forcedResponse[{UFS_QUERY_OP_READ_DESC, 0}] = 0xFF; }, "Err: General failure, for idn 0x00"},
        {[](auto &m) { m.attrs.erase(UFS_ATTR_REF_CLK_FREQ); }, "read bRefClkFreq fail. ret = -1"},
        {[](auto &m) { m.useShortLayout(); m.deviceDesc[ufsdesc::kUDConfigPLength] = 26; },
         "Err: configuration layout 16 + 8 x 26 does not match 144 bytes"},
        {[](auto &m) { m.setGeometry(4 * 8192, 1024, 8, 1, 0); }, "cannot hold the layout"},   // device too small
    };
    for (const auto &[setup, message] : cases) {
        m_model = UfsDeviceModel();
        setup(m_model);
        EXPECT_LT(init(0), 0) << message;
        EXPECT_TRUE(m_model.writes().empty()) << message;
        EXPECT_NE(m_err.find(message), std::string::npos) << message << ": " << m_err;
        EXPECT_EQ(m_out, "") << message;
        EXPECT_EQ(readFile(scanFile()), "") << message;
    }
}

TEST_F(UfsInitTest, FailedWritesEndTheRun)
{
    // The configuration write, then each attribute write, refused: nothing
    // after it is sent, no rescan, no summary. Rows: request, status, message,
    // attribute writes sent.
    const std::tuple<uint8_t, uint8_t, uint8_t, const char *, size_t> cases[] = {
        {UFS_QUERY_OP_WRITE_DESC, 1, 0xF9, "Err: Invalid LENGTH, for idn 0x01\n", 0},
        {UFS_QUERY_OP_WRITE_ATTR, 0, 0xFA, "ufs: set bBootLunEn fail. ret = -1\n", 1},
        {UFS_QUERY_OP_WRITE_ATTR, 0x0A, 0xF7, "Err: Parameter not written, for idn 0x0a\n"
                                              "ufs: set bRefClkFreq fail. ret = -1\n", 2},
    };
    for (const auto &[opcode, idn, status, message, sentAttrs] : cases) {
        m_model = UfsDeviceModel();
        m_model.forcedResponse[{opcode, idn}] = status;
        EXPECT_EQ(init(0), -1);
        EXPECT_NE(m_err.find(message), std::string::npos) << m_err;
        EXPECT_EQ(m_model.writes().size() - descWrites().size(), sentAttrs) << int(idn);
        EXPECT_EQ(m_out, "");
        EXPECT_EQ(readFile(scanFile()), "");
    }
}

TEST_F(UfsInitTest, MissingRescanFileAndDanglingNode)
{
    ASSERT_EQ(run("rm -r " + shq(m_dir.file("sys/class/scsi_host/host0"))).status, 0);
    EXPECT_EQ(init(0), -1);
    EXPECT_EQ(descWrites().size(), 1u);
    EXPECT_NE(m_err.find("Err: Failed to open /sys/class/scsi_host/host0/scan, 2\n"), std::string::npos) << m_err;
    EXPECT_EQ(m_out, "UFS initialized: 4 LUs, boot LU-1\n");

    // The node found by name, but not there: never opened.
    m_model.requests.clear();
    ASSERT_EQ(run("rm " + shq(m_dir.file("dev/bsg/ufs-bsg0")) + " && ln -s nowhere "
                  + shq(m_dir.file("dev/bsg/ufs-bsg0"))).status, 0);
    EXPECT_EQ(init(0), -ENOENT);
    EXPECT_NE(m_err.find("cannot access device (/dev/bsg/ufs-bsg0).\n"), std::string::npos) << m_err;
    EXPECT_TRUE(m_model.requests.empty());
}

// Without the model the real SG_IO is used; a regular file refuses it, and
// nothing may be written to the node or the scan file.
TEST_F(UfsInitTest, RealSgIoOnAFileSendsNothing)
{
    UfsTransportGuard real(nullptr);
    EXPECT_EQ(init(0), -1);
    EXPECT_NE(m_err.find("Err: bsg_query_rq: query failed, status -25 idn: 0"), std::string::npos) << m_err;
    EXPECT_NE(m_err.find("read bBootLunEn fail. ret = -1"), std::string::npos) << m_err;
    EXPECT_EQ(readFile(m_dir.file("dev/bsg/ufs-bsg0")), "");
    EXPECT_EQ(readFile(scanFile()), "");
}

// Layout arithmetic against values worked out by hand (the 64 GiB and
// 61071360-sector geometries above, in the bytes of the descriptor written).
TEST(UfsLayoutPlan, HandComputedGeometriesAndRefusals)
{
    int ret = 0;
    // AU 2 x 1500 = 3000 sectors, factor 3: boot ceil(24576/3000) = 9,
    // small ceil(49152/3000) = 17; 10^9 sectors / 3000 = 333333 AUs,
    // data 333333 - 18 - 17 = 333298.
    ufs_layout_plan p = plan(geometry(1000000000ull, 1500, 2, 3, 0), &ret);
    ASSERT_EQ(ret, 0);
    EXPECT_EQ(std::tie(p.au, p.n_boot, p.n_small, p.n_data, p.wb_units),
              std::make_tuple(3000u, 9u, 17u, 333298u, 0u));

    // A short (72-byte) geometry has no write-booster field; nothing past
    // its end is read.
    std::vector<uint8_t> shortGeo = geometry(61071360ull, 1024, 1, 2, 0, 0x48);
    shortGeo.resize(0x60, 0xEE);
    p = {};
    ASSERT_EQ(ufs_plan_layout(shortGeo.data(), 0x48, &p), 0);
    EXPECT_EQ(p.wb_units, 0u);

    // 4 TiB raw (2^33 sectors): the low 32 bits of the capacity are zero, the
    // data LU must still get 2^33 / 8192 - 4 = 1048572 AUs. Five allocation
    // units leave one for the data LU.
    for (const auto &[raw, data] : {std::pair{1ull << 33, 1048572u}, std::pair{5ull * 8192, 1u}}) {
        p = plan(geometry(raw, 1024, 8, 1, 0), &ret);
        EXPECT_EQ(std::make_pair(ret, p.n_data), std::make_pair(0, data)) << raw;
    }

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
}

// Spreading and packing the short and full layouts are checked byte for byte
// by the provisioning runs above (kept bytes included).
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
    // Fields provisioning never sets: header 0..2 and 11..15, unit 13..25.
    const std::pair<int, bool> offsets[] = {
        {3, true}, {4, true}, {9, true}, {10, true}, {16, true}, {17, true}, {21, true}, {22 + 0, true},
        {22 + 7, true}, {22 + 12, true}, {22 + 26 * 7 + 11, true}, {0, false}, {1, false}, {2, false},
        {11, false}, {15, false}, {22 + 13, false}, {22 + 25, false}, {22 + 26 * 7 + 20, false}};
    for (const auto &[off, counts] : offsets) {
        b = a;
        y[off] = 1;
        EXPECT_EQ(ufs_conf_differs(&a, &b, 22, 26), counts) << off;
    }
    // In a 16-byte header the write-booster fields do not exist.
    b = a;
    y[16] = 1;
    y[18] = 1;
    EXPECT_FALSE(ufs_conf_differs(&a, &b, 16, 16));
    y[10] = 1;
    EXPECT_TRUE(ufs_conf_differs(&a, &b, 16, 16));
}
