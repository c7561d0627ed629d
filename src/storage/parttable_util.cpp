// CRC-32 and GUID helpers of the partition tables.
#include "storage/parttable.h"

#include <cerrno>
#include <cstring>
#include <sys/random.h>
#include <zlib.h>

namespace {
int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
} // namespace

uint32_t crc32_le(uint32_t crc, const void *data, size_t length)
{
    // zlib's CRC-32 is the GPT's (reflected 0xEDB88320, pre- and post-
    // inverted); crc32_z takes a size_t, so no length is cut at 4 GiB.
    return static_cast<uint32_t>(crc32_z(crc, static_cast<const Bytef *>(data), length));
}

int gen_rand_uuid(uint8_t *out16)
{
    if (!out16)
        return -EINVAL;
    // The kernel's random source: every disk gets its own GUIDs, so two
    // disks written by this program never clash in one machine.
    uint8_t raw[16];
    size_t got = 0;
    while (got < sizeof raw) {
        const ssize_t n = getrandom(raw + got, sizeof raw - got, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? -errno : -EIO;
        got += static_cast<size_t>(n);
    }
    // Version 4 in the little-endian time_hi field (bytes 6-7), variant bit
    // in byte 8.
    raw[7] = static_cast<uint8_t>((raw[7] & 0x0F) | 0x40);
    raw[8] |= 0x80;
    memcpy(out16, raw, sizeof raw);
    return 0;
}

int uuid_str_to_bin(const char *text, uint8_t *out16, int format)
{
    if (!text || !out16 || strlen(text) != 36)
        return -EINVAL;
    uint8_t be[16];
    int n = 0;
    for (int i = 0; i < 36; ++i) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i] != '-')
                return -EINVAL;
            continue;
        }
        const int hi = hex_value(text[i]);
        const int lo = hex_value(text[i + 1]);
        if (hi < 0 || lo < 0 || i + 1 == 8 || i + 1 == 13 || i + 1 == 18 || i + 1 == 23)
            return -EINVAL;
        be[n++] = static_cast<uint8_t>(hi << 4 | lo);
        ++i;
    }
    if (format == 1) {
        // GUID order: the first three groups are stored little-endian.
        const uint8_t le[16] = {be[3], be[2], be[1], be[0], be[5], be[4], be[7], be[6],
                                be[8], be[9], be[10], be[11], be[12], be[13], be[14], be[15]};
        memcpy(out16, le, 16);
    } else {
        memcpy(out16, be, 16);
    }
    return 0;
}
