// The S5P4418/S5P6818 second-stage loader ("2ndboot.bin") and the NSIH
// header the boot ROM needs in front of it.
#include "storage/rkparm.h"

#include "storage/copy_pipeline.h"
#include "storage/mmc.h"
#include "util/log2file.h"

#include <cstddef>
#include <cstring>

namespace {

#pragma pack(push, 1)
// Only the fields the boot ROM needs to load and start the loader; every
// other byte of the header stays zero.
struct s5p_nsih
{
    uint8_t reserved0[0x44];
    uint32_t load_size;       // bytes the ROM loads, a multiple of 0x2000
    uint32_t load_address;
    uint32_t launch_address;
    uint8_t boot_device;      // 2: boot from the eMMC/SD controller
    uint8_t reserved1[0x1FC - 0x51];
    uint32_t signature;       // "NSIH"
};
#pragma pack(pop)
static_assert(sizeof(s5p_nsih) == S5P_NSIH_SIZE, "NSIH header is one 512-byte sector");

uint32_t get_le32(const uint8_t *p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void put_le32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

} // namespace

bool s5p_has_nsih(const uint8_t *first512)
{
    return get_le32(first512 + offsetof(s5p_nsih, signature)) == S5P_NSIH_MAGIC;
}

void s5p_build_nsih(uint8_t *out512, int64_t fileSize)
{
    memset(out512, 0, S5P_NSIH_SIZE);
    // The ROM loads whole 8 KiB units, one unit more than the file needs
    // once the 512-byte header in front of it is counted.
    const uint32_t loadSize = static_cast<uint32_t>((fileSize + 0x21FF) & ~int64_t(0x1FFF));
    put_le32(out512 + offsetof(s5p_nsih, load_size), loadSize);
    put_le32(out512 + offsetof(s5p_nsih, load_address), S5P_LOAD_ADDRESS);
    put_le32(out512 + offsetof(s5p_nsih, launch_address), S5P_LOAD_ADDRESS);
    out512[offsetof(s5p_nsih, boot_device)] = 2;
    put_le32(out512 + offsetof(s5p_nsih, signature), S5P_NSIH_MAGIC);
}

int write_2nd_boot(const char *device, int64_t offset, int64_t /*areaSize*/, FILE *fp, int64_t fileSize,
                   const char *imageName, const char *partName, int fileCount, int fileIndex)
{
    stream_set_current(imageName, partName, fileCount, fileIndex);
    uint8_t head[2 * S5P_NSIH_SIZE];
    uint8_t *first = head + S5P_NSIH_SIZE;
    if (fileSize < static_cast<int64_t>(S5P_NSIH_SIZE) || fread(first, 1, S5P_NSIH_SIZE, fp) != S5P_NSIH_SIZE) {
        log2file("2ndboot: cannot read the first %zu bytes\n", S5P_NSIH_SIZE);
        return -1;
    }
    log2file(">     ");

    // A loader that carries its own header goes on the device unchanged;
    // otherwise the built header precedes it and everything moves 512 bytes.
    const uint8_t *out = first;
    int64_t outLen = S5P_NSIH_SIZE;
    if (!s5p_has_nsih(first)) {
        s5p_build_nsih(head, fileSize);
        out = head;
        outLen = 2 * S5P_NSIH_SIZE;
    }
    const int64_t w = mmc_write(device, offset, outLen, out);
    if (w != outLen) {
        log2file("2ndboot: cannot write the header (ret=%lld)\n", static_cast<long long>(w));
        return w < 0 ? static_cast<int>(w) : -1;
    }

    const int64_t rest = fileSize - static_cast<int64_t>(S5P_NSIH_SIZE);
    int ret = stream_init(fp, rest);
    if (ret == 0) {
        storage_internal::write_record_add(out, offset, outLen, static_cast<size_t>(outLen));
        ret = ext4_write_raw(device, offset + outLen, rest);
        stream_show_stat();
        // Before the release, which clears the byte counts it reports.
        postSpeedToGui();
    }
    stream_release();
    return ret;
}
