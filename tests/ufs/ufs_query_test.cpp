// Query requests on the wire: byte layout, response codes, refusals, the
// SG_IO retry rule, and finding the BSG node.
#include "storage/ufs.h"
#include "support/simroot.h"
#include "support/ufsdevicemodel.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <linux/bsg.h>
#include <tuple>
#include <vector>

using namespace testsupport;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

// Keeps the raw bytes of every request and answers "success" with a fixed
// attribute value.
class RecordingTransport : public ufs_transport
{
public:
    std::vector<std::vector<uint8_t>> raw;
    std::vector<sg_io_v4> ios;
    int submit(int, sg_io_v4 *io) override
    {
        const uint8_t *p = reinterpret_cast<const uint8_t *>(io->request);
        raw.emplace_back(p, p + io->request_len);
        ios.push_back(*io);
        uint8_t *r = reinterpret_cast<uint8_t *>(io->response);
        memset(r, 0, io->max_response_len);
        r[28] = 0x12;
        r[31] = 0x34;
        if (io->din_xfer_len) {
            uint8_t *d = reinterpret_cast<uint8_t *>(io->din_xferp);
            d[0] = 0x59;   // a device descriptor length the reader accepts
        }
        return 0;
    }
};

} // namespace

TEST(UfsQuery, RequestBytesOnTheWire)
{
    RecordingTransport t;
    UfsTransportGuard guard(&t);
    ufs_bsg_request rq;
    ufs_bsg_reply rsp;

    // Attribute write: function 0x81, opcode 4, no data, value big-endian.
    ASSERT_EQ(bsg_write_attr(3, &rq, &rsp, 0x0A, 0, 0, 0x01020304), 0);
    const std::vector<uint8_t> writeAttr = {
        0x16, 0, 0, 0,                                      // BSG message code
        0x16, 0, 0, 0, 0, 0x81, 0, 0, 0, 0, 0, 0,           // UPIU header
        0x04, 0x0A, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 0, 0, 0, 0, 0, 0, 0, 0,
    };
    ASSERT_EQ(t.raw.size(), 1u);
    EXPECT_EQ(t.raw[0], writeAttr);
    const sg_io_v4 &io = t.ios[0];
    EXPECT_EQ(std::make_tuple(io.guard, io.protocol, io.subprotocol, io.max_response_len, io.dout_xfer_len + io.din_xfer_len),
              std::make_tuple(int('Q'), 0u, 2u, 40u, 0u));

    // Attribute read: the value comes from reply bytes 28..31.
    uint32_t v = 0;
    ASSERT_EQ(bsg_read_attr(3, &rq, &rsp, 0x00, 0, 0, &v), 0);
    EXPECT_EQ(v, 0x12000034u);
    EXPECT_EQ(std::make_pair(t.raw[1][9], t.raw[1][16]), std::make_pair(uint8_t(0x01), uint8_t(0x03)));

    // Descriptor read of 255 bytes: both length fields, data in.
    uint8_t buf[255];
    ASSERT_EQ(bsg_read_desc(3, &rq, &rsp, 0, 0, 255, buf), 0);
    EXPECT_EQ(t.raw[2], (std::vector<uint8_t>{0x16, 0, 0, 0, 0x16, 0, 0, 0, 0, 0x01, 0, 0, 0, 0, 0, 0xFF, 0x01, 0,
                                              0, 0, 0, 0, 0, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(std::make_pair(t.ios[2].din_xfer_len, t.ios[2].dout_xfer_len), std::make_pair(255u, 0u));

    // Descriptor write: data out with the descriptor's length.
    uint8_t conf[144] = {0x90, 0x01};
    ASSERT_EQ(bsg_write_desc(3, &rq, &rsp, 1, 0, 144, conf), 0);
    EXPECT_EQ(t.raw[3], (std::vector<uint8_t>{0x16, 0, 0, 0, 0x16, 0, 0, 0, 0, 0x81, 0, 0, 0, 0, 0, 144, 0x02, 0x01,
                                              0, 0, 0, 0, 0, 144, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(std::make_pair(t.ios[3].dout_xfer_len, t.ios[3].dout_xferp),
              std::make_pair(144u, static_cast<__u64>(reinterpret_cast<uintptr_t>(conf))));
}

// Attribute IDNs above 57 are refused before sending; interrupted calls are
// retried, failures reported, and nothing is written meanwhile.
TEST(UfsTransport, RefusalsRetriesAndFailures)
{
    UfsDeviceModel model;
    UfsTransportGuard guard(&model);
    ufs_bsg_request rq;
    ufs_bsg_reply rsp;
    uint32_t v = 7;
    CaptureStderr();
    EXPECT_EQ(bsg_read_attr(-1, &rq, &rsp, 58, 0, 0, &v), -1);
    EXPECT_EQ(bsg_write_attr(-1, &rq, &rsp, 58, 0, 0, 1), -1);
    EXPECT_EQ(bsg_write_attr(-1, &rq, &rsp, 0xFF, 0, 0, 1), -1);
    EXPECT_TRUE(model.requests.empty());
    // 57 is a legal IDN and is sent; this device does not know it.
    EXPECT_EQ(bsg_read_attr(-1, &rq, &rsp, 57, 0, 0, &v), -1);
    ASSERT_EQ(model.requests.size(), 1u);
    EXPECT_EQ(model.requests[0].idn, 57);

    model.attrs[0x0A] = 1;
    model.failErrnos = {EINTR, EAGAIN, EINTR};
    EXPECT_EQ(bsg_read_attr(-1, &rq, &rsp, 0x0A, 0, 0, &v), 0);
    EXPECT_EQ(v, 1u);
    EXPECT_TRUE(model.failErrnos.empty());

    model.failErrnos = {EIO};
    EXPECT_EQ(bsg_read_attr(-1, &rq, &rsp, 0x0A, 0, 0, &v), -1);
    model.infoOnce = 5;
    EXPECT_EQ(bsg_write_attr(-1, &rq, &rsp, 0x00, 0, 0, 1), -1);
    EXPECT_EQ(model.attrs[0x00], 0u);
    EXPECT_EQ(send_bsg_scsi_trs(-1, &rq, nullptr, 36, 40, 0, nullptr, false), -EINVAL);
    EXPECT_EQ(send_bsg_scsi_trs(-1, &rq, &rsp, 36, 40, 16, nullptr, true), -EINVAL);
    const std::string err = GetCapturedStderr();
    for (const char *line : {"Err: Invalid IDN, for idn 0x39", "Err: bsg_query_rq: query failed, status -5 idn: 10, i: 0, s: 0\n",
                             "Err: Command fail with status 5 \n", "Err: send_bsg_scsi_trs: wrong parameters\n",
                             "Err: send_bsg_scsi_trs: data_buf is NULL\n"})
        EXPECT_NE(err.find(line), std::string::npos) << line << err;
    EXPECT_TRUE(model.writes().empty());
}

TEST(UfsFindDevice, FirstUfsBsgEntryAndItsHost)
{
    SimRoot d;
    char path[UFS_PATH_SIZE];
    int host = -1;
    CaptureStderr();
    EXPECT_EQ(bsg_find_device(path, sizeof path, &host), -ENODEV);
    EXPECT_EQ(GetCapturedStderr(), "Err: Directory cannot be opened!\n");

    d.put("dev/bsg/0:0:0:0", "");
    EXPECT_EQ(bsg_find_device(path, sizeof path, &host), -ENODEV);

    d.put("dev/bsg/ufs-bsg3", "");
    ASSERT_EQ(bsg_find_device(path, sizeof path, &host), 0);
    EXPECT_STREQ(path, "/dev/bsg/ufs-bsg3");
    EXPECT_EQ(host, 3);
}
