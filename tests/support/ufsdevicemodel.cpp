#include "support/ufsdevicemodel.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <linux/bsg.h>

namespace testsupport {

namespace {

void putBe(uint8_t *p, uint64_t v, int bytes)
{
    for (int i = bytes - 1; i >= 0; i--) {
        p[i] = static_cast<uint8_t>(v);
        v >>= 8;
    }
}

uint32_t getBe(const uint8_t *p, int bytes)
{
    uint32_t v = 0;
    for (int i = 0; i < bytes; i++)
        v = (v << 8) | p[i];
    return v;
}

// JEDEC query response codes the model uses.
enum : uint8_t {
    kOk = 0x00,
    kNotWriteable = 0xF7,
    kAlreadyWritten = 0xF8,
    kInvalidLength = 0xF9,
    kInvalidValue = 0xFA,
    kInvalidSelector = 0xFB,
    kInvalidIndex = 0xFC,
    kInvalidIdn = 0xFD,
    kInvalidOpcode = 0xFE,
};

} // namespace

UfsDeviceModel::UfsDeviceModel()
{
    deviceDesc.assign(0x59, 0);
    deviceDesc[0] = 0x59;
    deviceDesc[1] = UFS_DESC_DEVICE;
    deviceDesc[ufsdesc::kNumberLU] = 1;
    deviceDesc[ufsdesc::kUD0BaseOffset] = 22;
    deviceDesc[ufsdesc::kUDConfigPLength] = 26;

    geometryDesc.assign(0x57, 0);
    geometryDesc[0] = 0x57;
    geometryDesc[1] = UFS_DESC_GEOMETRY;
    setGeometry(64ull << 21, 1024, 8, 1, 0x100);

    configDesc.assign(230, 0);
    configDesc[0] = 0xE6;
    configDesc[1] = UFS_DESC_CONFIG;
    configDesc[9] = 0x00;       // wPeriodicRTCUpdate, which provisioning keeps
    configDesc[10] = 0x0A;

    attrs[UFS_ATTR_BOOT_LUN_EN] = 0;
    attrs[UFS_ATTR_REF_CLK_FREQ] = 0;
    attrs[UFS_ATTR_CONF_DESC_LOCK] = 0;
    attrs[0x01] = 0x11;         // bCurrentPowerMode: active
}

void UfsDeviceModel::useShortLayout()
{
    deviceDesc.resize(0x40);
    deviceDesc[0] = 0x40;
    deviceDesc[ufsdesc::kUD0BaseOffset] = 16;
    deviceDesc[ufsdesc::kUDConfigPLength] = 16;
    geometryDesc.resize(0x48);
    geometryDesc[0] = 0x48;
    configDesc.assign(144, 0);
    configDesc[0] = 0x90;
    configDesc[1] = UFS_DESC_CONFIG;
}

void UfsDeviceModel::setGeometry(uint64_t rawSectors, uint32_t segmentSectors,
                                 uint8_t auSegments, uint8_t enhFactor, uint32_t wbMaxUnits)
{
    putBe(&geometryDesc[ufsdesc::kTotalRawDeviceCapacity], rawSectors, 8);
    putBe(&geometryDesc[ufsdesc::kSegmentSize], segmentSectors, 4);
    geometryDesc[ufsdesc::kAllocationUnitSize] = auSegments;
    geometryDesc[ufsdesc::kEnhanced1CapAdjFac] = enhFactor;
    geometryDesc[ufsdesc::kEnhanced1CapAdjFac + 1] = 0;
    if (geometryDesc.size() >= ufsdesc::kWriteBoosterBufferMaxNAllocUnits + 4u)
        putBe(&geometryDesc[ufsdesc::kWriteBoosterBufferMaxNAllocUnits], wbMaxUnits, 4);
}

std::vector<UfsDeviceModel::Request> UfsDeviceModel::writes() const
{
    std::vector<Request> w;
    for (const Request &r : requests)
        if (r.opcode == UFS_QUERY_OP_WRITE_DESC || r.opcode == UFS_QUERY_OP_WRITE_ATTR)
            w.push_back(r);
    return w;
}

int UfsDeviceModel::submit(int, sg_io_v4 *io)
{
    if (!failErrnos.empty()) {
        errno = failErrnos.front();
        failErrnos.erase(failErrnos.begin());
        return -1;
    }
    // The kernel's UFS BSG driver refuses anything but a transport request
    // carrying a whole query UPIU and room for the whole reply.
    if (io->guard != 'Q' || io->protocol != BSG_PROTOCOL_SCSI
        || io->subprotocol != BSG_SUB_PROTOCOL_SCSI_TRANSPORT
        || io->request_len != sizeof(ufs_bsg_request) || !io->request
        || io->max_response_len < sizeof(ufs_bsg_reply) || !io->response) {
        errno = EINVAL;
        return -1;
    }
    ufs_bsg_request rqBuf;
    memcpy(&rqBuf, reinterpret_cast<const void *>(io->request), sizeof rqBuf);
    const uint8_t *u = rqBuf.upiu;
    if (rqBuf.msgcode != UFS_QUERY_MSGCODE || u[0] != UFS_QUERY_MSGCODE) {
        errno = EINVAL;
        return -1;
    }

    Request rq;
    rq.function = u[5];
    rq.opcode = u[12];
    rq.idn = u[13];
    rq.index = u[14];
    rq.selector = u[15];
    rq.length = static_cast<uint16_t>(getBe(u + 18, 2));
    rq.value = getBe(u + 20, 4);
    const uint16_t segment = static_cast<uint16_t>(getBe(u + 10, 2));
    const bool descWrite = rq.opcode == UFS_QUERY_OP_WRITE_DESC;
    const bool descRead = rq.opcode == UFS_QUERY_OP_READ_DESC;
    // Data must travel in the direction and amount the request names.
    if (segment != rq.length
        || (descWrite && (io->dout_xfer_len != rq.length || !io->dout_xferp || io->din_xfer_len))
        || (descRead && (io->din_xfer_len < rq.length || !io->din_xferp || io->dout_xfer_len))
        || (!descWrite && !descRead && (io->din_xfer_len || io->dout_xfer_len))) {
        errno = EINVAL;
        return -1;
    }
    if (infoOnce) {
        io->info = infoOnce;
        infoOnce = 0;
        return 0;
    }
    if (descWrite) {
        const uint8_t *p = reinterpret_cast<const uint8_t *>(io->dout_xferp);
        rq.dataOut.assign(p, p + io->dout_xfer_len);
    }

    uint8_t rsp[32];
    memset(rsp, 0, sizeof rsp);
    uint8_t *din = descRead ? reinterpret_cast<uint8_t *>(io->din_xferp) : nullptr;
    rq.response = answer(rq, din, io->din_xfer_len, rsp);
    requests.push_back(rq);

    ufs_bsg_reply reply;
    memset(&reply, 0, sizeof reply);
    memcpy(reply.upiu, rsp, sizeof rsp);
    reply.upiu[0] = 0x36;       // query response UPIU
    reply.upiu[5] = rq.function;
    reply.upiu[6] = rq.response;
    reply.upiu[12] = rq.opcode;
    reply.upiu[13] = rq.idn;
    reply.upiu[14] = rq.index;
    reply.upiu[15] = rq.selector;
    memcpy(reinterpret_cast<void *>(io->response), &reply, sizeof reply);
    io->response_len = sizeof reply;
    return 0;
}

uint8_t UfsDeviceModel::answer(Request &rq, uint8_t *din, uint32_t dinLen, uint8_t *rsp)
{
    auto forced = forcedResponse.find({rq.opcode, rq.idn});
    if (forced != forcedResponse.end())
        return forced->second;
    const bool writeOp = rq.opcode == UFS_QUERY_OP_WRITE_DESC || rq.opcode == UFS_QUERY_OP_WRITE_ATTR;
    if (rq.function != (writeOp ? UFS_QUERY_FUNC_STD_WRITE : UFS_QUERY_FUNC_STD_READ))
        return kInvalidOpcode;
    if (rq.selector != 0)
        return kInvalidSelector;

    switch (rq.opcode) {
    case UFS_QUERY_OP_READ_DESC: {
        const std::map<uint8_t, const std::vector<uint8_t> *> descs = {
            {UFS_DESC_DEVICE, &deviceDesc}, {UFS_DESC_CONFIG, &configDesc}, {UFS_DESC_GEOMETRY, &geometryDesc}};
        const auto d = descs.find(rq.idn);
        if (d == descs.end())
            return kInvalidIdn;
        if (rq.index != 0)
            return kInvalidIndex;
        const size_t n = std::min<size_t>({d->second->size(), rq.length, dinLen});
        memcpy(din, d->second->data(), n);
        putBe(rsp + 18, n, 2);
        return kOk;
    }
    case UFS_QUERY_OP_WRITE_DESC: {
        if (rq.idn != UFS_DESC_CONFIG)
            return rq.idn <= UFS_DESC_HEALTH ? kNotWriteable : kInvalidIdn;
        if (rq.index != 0)
            return kInvalidIndex;
        if (attrs[UFS_ATTR_CONF_DESC_LOCK])
            return kNotWriteable;
        if (rq.length != configDesc.size())
            return kInvalidLength;
        if (rq.dataOut[0] != configDesc.size() || rq.dataOut[1] != UFS_DESC_CONFIG)
            return kInvalidValue;
        configDesc = rq.dataOut;
        // What the device reports after re-enumerating with the new layout.
        const size_t base = deviceDesc[ufsdesc::kUD0BaseOffset];
        const size_t unit = deviceDesc[ufsdesc::kUDConfigPLength];
        uint8_t enabled = 0;
        for (size_t i = 0; i < 8; i++)
            enabled += configDesc[base + unit * i] ? 1 : 0;
        deviceDesc[ufsdesc::kNumberLU] = enabled;
        deviceDesc[ufsdesc::kBootEnable] = configDesc[3];
        if (onConfigWritten)
            onConfigWritten();
        return kOk;
    }
    case UFS_QUERY_OP_READ_ATTR: {
        auto it = attrs.find(rq.idn);
        if (it == attrs.end())
            return kInvalidIdn;
        if (rq.index != 0)
            return kInvalidIndex;
        putBe(rsp + 20, it->second, 4);
        return kOk;
    }
    case UFS_QUERY_OP_WRITE_ATTR: {
        auto it = attrs.find(rq.idn);
        if (it == attrs.end())
            return kInvalidIdn;
        if (rq.index != 0)
            return kInvalidIndex;
        // The writable attributes and their largest values; the lock is
        // written once, with 1.
        const std::map<uint8_t, uint32_t> writable = {
            {UFS_ATTR_BOOT_LUN_EN, 2}, {UFS_ATTR_REF_CLK_FREQ, 3}, {UFS_ATTR_CONF_DESC_LOCK, 1}};
        const bool lock = rq.idn == UFS_ATTR_CONF_DESC_LOCK;
        if (!writable.count(rq.idn))
            return kNotWriteable;
        if (lock && it->second)
            return kAlreadyWritten;
        if (rq.value > writable.at(rq.idn) || (lock && rq.value != 1))
            return kInvalidValue;
        it->second = rq.value;
        return kOk;
    }
    default:
        return kInvalidOpcode;
    }
}

} // namespace testsupport
