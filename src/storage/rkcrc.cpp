// The Rockchip CRC and the parameter block framed with it.
#include "storage/rkparm.h"

#include <array>
#include <cstring>

namespace {

// Not the usual CRC-32 polynomial 0x04C11DB7: Rockchip's tools use
// 0x04C10DB7, and the boot ROM and U-Boot check against that.
constexpr uint32_t RK_CRC_POLY = 0x04C10DB7;

constexpr std::array<uint32_t, 256> make_table()
{
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; i++) {
        uint32_t c = i << 24;
        for (int b = 0; b < 8; b++)
            c = (c & 0x80000000u) ? (c << 1) ^ RK_CRC_POLY : (c << 1);
        t[i] = c;
    }
    return t;
}

constexpr std::array<uint32_t, 256> g_rkCrcTable = make_table();

void put_le32(uint8_t *p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

} // namespace

uint32_t crc32_rk(uint32_t crc, const void *data, size_t length)
{
    const uint8_t *p = static_cast<const uint8_t *>(data);
    for (size_t i = 0; i < length; i++)
        crc = g_rkCrcTable[(p[i] ^ (crc >> 24)) & 0xFF] ^ (crc << 8);
    return crc;
}

int64_t rkimg_build_parameter(uint8_t *buf, int64_t length)
{
    const size_t n = static_cast<size_t>(length);
    memmove(buf + 8, buf, n);
    memcpy(buf, "PARM", 4);
    put_le32(buf + 4, static_cast<uint32_t>(n));
    put_le32(buf + 8 + n, crc32_rk(0, buf + 8, n));
    return length + 8;
}
