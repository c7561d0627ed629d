// A UFS device behind the BSG transport seam, for tests.
//
// It answers query requests the way a device does: descriptors and
// attributes it keeps, JEDEC response codes for what it refuses (unknown IDN,
// wrong length, locked configuration, read-only attribute, bad value), and
// a request envelope that must look like the kernel's UFS BSG expects
// (anything else fails like the ioctl would, with EINVAL). Every request is
// recorded. Install it with UfsTransportGuard for the lifetime of a test.
#pragma once

#include "storage/ufs.h"

#include <cstdint>
#include <functional>
#include <map>
#include <utility>
#include <vector>

namespace testsupport {

// Descriptor field offsets as JEDEC's UFS standard (JESD220) lists them,
// written out here rather than taken from the storage layer: a slip in the
// production offsets must make the model disagree, not follow it.
namespace ufsdesc {
// Device descriptor.
constexpr int kNumberLU = 0x06;
constexpr int kBootEnable = 0x08;
constexpr int kUD0BaseOffset = 0x1A;
constexpr int kUDConfigPLength = 0x1B;
// Geometry descriptor (multi-byte fields big-endian).
constexpr int kTotalRawDeviceCapacity = 0x04;   // 8 bytes, 512-byte units
constexpr int kSegmentSize = 0x0D;              // 4 bytes, 512-byte units
constexpr int kAllocationUnitSize = 0x11;
constexpr int kEnhanced1CapAdjFac = 0x30;       // 2 bytes
constexpr int kWriteBoosterBufferMaxNAllocUnits = 0x4F;   // 4 bytes
} // namespace ufsdesc

class UfsDeviceModel : public ufs_transport
{
public:
    struct Request
    {
        uint8_t function = 0;
        uint8_t opcode = 0;
        uint8_t idn = 0;
        uint8_t index = 0;
        uint8_t selector = 0;
        uint16_t length = 0;
        uint32_t value = 0;
        std::vector<uint8_t> dataOut;   // descriptor writes
        uint8_t response = 0;           // what the model answered
    };

    // A UFS 3.1 device: 230-byte configuration, all zero (factory state),
    // 64 GiB raw, 4 MiB allocation unit, enhanced factor 1, write booster
    // of 0x100 allocation units, bBootLunEn 0, bRefClkFreq 0, unlocked.
    UfsDeviceModel();

    // Switches to the short (UFS 2.1) layout: header and units of 16 bytes,
    // a 144-byte configuration descriptor and a 72-byte geometry descriptor.
    void useShortLayout();

    // Geometry fields (raw capacity in 512-byte sectors; the allocation unit
    // is auSegments x segmentSectors sectors).
    void setGeometry(uint64_t rawSectors, uint32_t segmentSectors, uint8_t auSegments,
                     uint8_t enhFactor, uint32_t wbMaxUnits);

    int submit(int fd, sg_io_v4 *io) override;

    // Requests that changed the device (descriptor and attribute writes).
    std::vector<Request> writes() const;

    // State, editable by tests. Descriptor vectors are in the device's own
    // layout; their first byte is their length.
    std::vector<uint8_t> deviceDesc;
    std::vector<uint8_t> geometryDesc;
    std::vector<uint8_t> configDesc;
    std::map<uint8_t, uint32_t> attrs;
    std::vector<Request> requests;

    // Failure injection: a fixed response code for (opcode, idn); errno values
    // returned by the next submits (EINTR, EAGAIN, EIO...); a non-zero
    // sg_io_v4 info on the next submit.
    std::map<std::pair<uint8_t, uint8_t>, uint8_t> forcedResponse;
    std::vector<int> failErrnos;
    uint32_t infoOnce = 0;
    // Called after a configuration descriptor write was accepted (a test may
    // make the new units appear).
    std::function<void()> onConfigWritten;

private:
    uint8_t answer(Request &rq, uint8_t *din, uint32_t dinLen, uint8_t *rspUpiu);
};

// Installs a transport for the scope and restores the real one afterwards.
class UfsTransportGuard
{
public:
    explicit UfsTransportGuard(ufs_transport *t) { m_previous = ufs_set_transport(t); }
    ~UfsTransportGuard() { ufs_set_transport(m_previous); }
    UfsTransportGuard(const UfsTransportGuard &) = delete;
    UfsTransportGuard &operator=(const UfsTransportGuard &) = delete;

private:
    ufs_transport *m_previous;
};

} // namespace testsupport
