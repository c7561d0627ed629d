// The UFS configuration descriptor: device layouts, the wanted logical-unit
// layout, and writing it back.
#include "storage/ufs.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// The smallest header and unit entry that still hold every field provisioning
// sets (up to wPeriodicRTCUpdate, up to wContextCapabilities).
const int k_min_header_len = 11;
const int k_min_unit_len = 13;

// Boot LUs and the small LU, in 512-byte sectors of enhanced memory.
const uint64_t k_boot_lu_sectors = 8192;     // 4 MiB
const uint64_t k_small_lu_sectors = 16384;   // 8 MiB

uint32_t get_be32(const uint8_t *p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

uint64_t get_be64(const uint8_t *p)
{
    return (uint64_t(get_be32(p)) << 32) | get_be32(p + 4);
}

void put_be32(uint8_t *p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

bool layout_fits(int len, int header_len, int unit_len)
{
    return len > 0 && len <= UFS_CONF_DESC_SIZE
        && header_len >= k_min_header_len && header_len <= UFS_CONF_HEADER_SIZE
        && unit_len >= k_min_unit_len && unit_len <= UFS_CONF_UNIT_SIZE
        && header_len + UFS_CONF_UNITS * unit_len == len;
}

uint64_t div_ceil(uint64_t a, uint64_t b)
{
    return (a + b - 1) / b;
}

} // namespace

int ufs_conf_spread(const uint8_t *dev, int len, int header_len, int unit_len,
                    ufs_configuration_descriptor *out)
{
    uint8_t *o = reinterpret_cast<uint8_t *>(out);
    memset(o, 0, sizeof *out);
    if (len == UFS_CONF_DESC_SIZE) {
        memcpy(o, dev, UFS_CONF_DESC_SIZE);
        return 0;
    }
    if (!layout_fits(len, header_len, unit_len))
        return -1;
    memcpy(o, dev, header_len);
    for (int i = 0; i < UFS_CONF_UNITS; i++)
        memcpy(o + UFS_CONF_HEADER_SIZE + UFS_CONF_UNIT_SIZE * i,
               dev + header_len + unit_len * i, unit_len);
    return 0;
}

int ufs_conf_pack(const ufs_configuration_descriptor *conf, int len, int header_len,
                  int unit_len, uint8_t *dev)
{
    const uint8_t *c = reinterpret_cast<const uint8_t *>(conf);
    if (len == UFS_CONF_DESC_SIZE) {
        memcpy(dev, c, UFS_CONF_DESC_SIZE);
        return 0;
    }
    if (!layout_fits(len, header_len, unit_len))
        return -1;
    memcpy(dev, c, header_len);
    for (int i = 0; i < UFS_CONF_UNITS; i++)
        memcpy(dev + header_len + unit_len * i,
               c + UFS_CONF_HEADER_SIZE + UFS_CONF_UNIT_SIZE * i, unit_len);
    return 0;
}

int ufs_plan_layout(const uint8_t *geo, int geo_len, ufs_layout_plan *plan)
{
    memset(plan, 0, sizeof *plan);
    if (geo_len < UFS_GEO_wEnhanced1CapAdjFac + 1) {
        print_error("geometry descriptor too short (%d bytes)", geo_len);
        return -1;
    }
    const uint64_t au = uint64_t(geo[UFS_GEO_bAllocationUnitSize])
        * get_be32(geo + UFS_GEO_dSegmentSize);
    const uint32_t factor = geo[UFS_GEO_wEnhanced1CapAdjFac];
    // A zero allocation unit or factor would divide by zero or create boot
    // units of no size; neither may reach the device.
    if (au == 0 || au > UINT32_MAX || factor == 0) {
        print_error("invalid geometry: allocation unit %llu sectors, enhanced factor %u",
                    static_cast<unsigned long long>(au), factor);
        return -1;
    }
    const uint64_t n_boot = div_ceil(k_boot_lu_sectors * factor, au);
    const uint64_t n_small = div_ceil(k_small_lu_sectors * factor, au);
    // The whole 64-bit capacity counts: its low 32 bits alone would wrap on
    // devices of 2 TiB and more.
    const uint64_t total = get_be64(geo + UFS_GEO_qTotalRawDeviceCapacity) / au;
    if (total <= 2 * n_boot + n_small || total - 2 * n_boot - n_small > UINT32_MAX) {
        print_error("device capacity of %llu allocation units cannot hold the layout",
                    static_cast<unsigned long long>(total));
        return -1;
    }
    plan->au = static_cast<uint32_t>(au);
    plan->enh_factor = factor;
    plan->n_boot = static_cast<uint32_t>(n_boot);
    plan->n_small = static_cast<uint32_t>(n_small);
    plan->n_data = static_cast<uint32_t>(total - 2 * n_boot - n_small);
    if (geo_len >= UFS_GEO_dWriteBoosterBufferMaxNAllocUnits + 4)
        plan->wb_units = get_be32(geo + UFS_GEO_dWriteBoosterBufferMaxNAllocUnits);
    return 0;
}

void ufs_build_wanted_conf(const ufs_configuration_descriptor *current,
                           const ufs_layout_plan *plan, ufs_configuration_descriptor *wanted)
{
    *wanted = *current;
    ufs_conf_header &h = wanted->header;
    h.bBootEnable = 1;
    h.bInitPowerMode = 1;
    h.bHighPriorityLUN = 0x7F;          // no high-priority LU
    h.bSecureRemovalType = 0;
    h.bInitActiveICCLevel = 0;
    if (plan->wb_units) {
        h.bWriteBoosterBufferPreserveUserSpaceEn = 1;
        h.bWriteBoosterBufferType = 1;  // one buffer shared by all LUs
        put_be32(h.dNumSharedWriteBoosterBufferAllocUnits, plan->wb_units);
    }

    struct unit_plan
    {
        uint8_t boot_lun_id;
        uint8_t memory_type;
        uint32_t alloc_units;
    };
    const unit_plan units[4] = {
        {0, 0, plan->n_data},   // data LU, normal memory
        {1, 3, plan->n_boot},   // boot LU A, enhanced memory 1
        {2, 3, plan->n_boot},   // boot LU B
        {0, 3, plan->n_small},  // small enhanced LU
    };
    for (int i = 0; i < 4; i++) {
        ufs_conf_unit &u = wanted->unit[i];
        u.bLUEnable = 1;
        u.bBootLunID = units[i].boot_lun_id;
        u.bLUWriteProtect = 0;
        u.bMemoryType = units[i].memory_type;
        put_be32(u.dNumAllocUnits, units[i].alloc_units);
        u.bDataReliability = 1;
        u.bLogicalBlockSize = 12;       // 4096-byte blocks
        u.bProvisioningType = 2;        // thin provisioning with TPRZ
        u.wContextCapabilities[0] = 0;
        u.wContextCapabilities[1] = 0;
    }
}

bool ufs_conf_differs(const ufs_configuration_descriptor *a,
                      const ufs_configuration_descriptor *b, int header_len, int unit_len)
{
    const uint8_t *x = reinterpret_cast<const uint8_t *>(a);
    const uint8_t *y = reinterpret_cast<const uint8_t *>(b);
    // Header: bBootEnable .. wPeriodicRTCUpdate, then the write-booster fields.
    // A field the device layout cannot hold is never sent and so cannot differ
    // on the device; counting it would rewrite the descriptor on every run.
    static const int header_bytes[] = {3, 4, 5, 6, 7, 8, 9, 10, 16, 17, 18, 19, 20, 21};
    for (int off : header_bytes)
        if (off < header_len && x[off] != y[off])
            return true;
    for (int i = 0; i < UFS_CONF_UNITS; i++) {
        const int base = UFS_CONF_HEADER_SIZE + UFS_CONF_UNIT_SIZE * i;
        // bLUEnable .. wContextCapabilities.
        for (int off = 0; off <= 12 && off < unit_len; off++)
            if (x[base + off] != y[base + off])
                return true;
    }
    return false;
}

int ufs_write_conf_desc(ufs_hba *hba, const ufs_configuration_descriptor *conf)
{
    const int len = hba->conf_desc_len;
    if (len <= 0 || len > UFS_CONF_DESC_SIZE) {
        fprintf(stderr, "Err: invalid desc size %d\n", len);
        return -1;
    }
    uint8_t buf[UFS_CONF_DESC_SIZE];
    memset(buf, 0, sizeof buf);
    if (ufs_conf_pack(conf, len, hba->conf_header_len, hba->conf_unit_len, buf)) {
        print_error("configuration layout %d/%d does not fit %d bytes",
                    hba->conf_header_len, hba->conf_unit_len, len);
        return -1;
    }
    ufs_bsg_request request;
    ufs_bsg_reply reply;
    return bsg_write_desc(hba->fd, &request, &reply, UFS_DESC_CONFIG, 0,
                          static_cast<uint16_t>(len), buf);
}
