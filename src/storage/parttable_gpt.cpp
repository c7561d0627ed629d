// GUID partition table: protective MBR, primary and backup header and
// entry array.
#include "storage/parttable.h"
#include "util/log2file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {
constexpr int GPT_ENTRIES = 128;
constexpr int GPT_ENTRY_SIZE = 128;
constexpr int GPT_ARRAY_BYTES = GPT_ENTRIES * GPT_ENTRY_SIZE;   // 16384

#pragma pack(push, 1)
struct gpt_header
{
    char signature[8];
    uint32_t revision;
    uint32_t header_size;
    uint32_t header_crc32;
    uint32_t reserved;
    uint64_t current_lba;
    uint64_t backup_lba;
    uint64_t first_usable_lba;
    uint64_t last_usable_lba;
    uint8_t disk_guid[16];
    uint64_t entries_lba;
    uint32_t num_entries;
    uint32_t entry_size;
    uint32_t entries_crc32;
};

struct gpt_entry
{
    uint8_t type_guid[16];
    uint8_t unique_guid[16];
    uint64_t first_lba;
    uint64_t last_lba;
    uint64_t attributes;
    uint16_t name[36];
};
#pragma pack(pop)
static_assert(sizeof(gpt_header) == 92, "GPT header is 92 bytes");
static_assert(sizeof(gpt_entry) == GPT_ENTRY_SIZE, "GPT entry is 128 bytes");

void layout_error(const char *msg)
{
    printf("%s\n", msg);
    fflush(stdout);
    log2file("%s\n", msg);
}

void header_crc(gpt_header &h)
{
    h.header_crc32 = 0;
    h.header_crc32 = crc32_le(0, &h, sizeof h);
}
} // namespace

int gpt_part_table_make(const char *device, int64_t diskSectors, int sectorSize, const partinfo *parts, int count,
                        const part_write_fn &write)
{
    if (!write) {
        log2file("Error, not defined disk write callback fn !!!\n");
        return -EINVAL;
    }
    if (sectorSize < 512 || sectorSize % 512 != 0 || (sectorSize & (sectorSize - 1)) != 0 || count < 0 ||
        count > GPT_ENTRIES || (count > 0 && !parts)) {
        layout_error("Invalid GPT layout arguments");
        return -1;
    }
    const int64_t ratio = sectorSize / 512;
    const int64_t L = diskSectors / ratio;
    const int64_t arraySectors = GPT_ARRAY_BYTES / sectorSize;
    const int64_t firstUsable = 2 + arraySectors;
    const int64_t lastUsable = L - 2 - arraySectors;
    if (lastUsable < firstUsable) {
        layout_error("Partitions layout exceds disk size");
        return -1;
    }

    const size_t ss = static_cast<size_t>(sectorSize);
    std::vector<uint8_t> primary(2 * ss + GPT_ARRAY_BYTES, 0);
    uint8_t *pmbr = primary.data();
    uint8_t *entries = primary.data() + 2 * ss;

    // Protective MBR: one 0xEE entry covering the disk (in logical sectors).
    uint8_t *pe = pmbr + 446;
    pe[0] = 0x00;
    pe[1] = 0x00;
    pe[2] = 0x02;
    pe[3] = 0x00;
    pe[4] = 0xEE;
    pe[5] = pe[6] = pe[7] = 0xFF;
    const uint32_t one = 1;
    const uint32_t pmbrSize = L - 1 > 0xFFFFFFFFLL ? 0xFFFFFFFFu : static_cast<uint32_t>(L - 1);
    memcpy(pe + 8, &one, 4);
    memcpy(pe + 12, &pmbrSize, 4);
    pmbr[510] = 0x55;
    pmbr[511] = 0xAA;

    int64_t cursor = firstUsable, maxLast = 0;
    std::vector<int64_t> firsts(static_cast<size_t>(count)), lasts(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const partinfo &p = parts[i];
        const int64_t s = p.start / ratio, n = p.size / ratio;
        if (p.start < 0 || p.size < 0) {
            layout_error("Partition overlap");
            return -1;
        }
        int64_t first;
        if (s != 0) {
            first = s;
            cursor = s + n;
        } else {
            first = cursor;
            cursor += n;
        }
        // Nothing may start inside the protective MBR, the header or the
        // entry array.
        if (first < firstUsable) {
            layout_error("Partition overlap");
            return -1;
        }
        if (first + n > lastUsable + 1) {
            layout_error("Partitions layout exceds disk size");
            return -1;
        }
        int64_t last = first + n - 1;
        if (i == count - 1 && n == 0)
            last = lastUsable;
        firsts[i] = first;
        lasts[i] = last;
        if (last > maxLast)
            maxLast = last;
    }
    // A first record without size that lies after all the others grows to
    // the end (Rockchip layouts list the growing partition first).
    if (count > 0 && parts[0].size == 0 && parts[0].start > maxLast * ratio && lastUsable - maxLast > 0x80000) {
        lasts[0] = (lastUsable / 0x2000) * 0x2000 - 1;
    }
    for (int i = 0; i < count; ++i) {
        if (lasts[i] < firsts[i]) {
            layout_error("Partition size is zero");
            return -1;
        }
        for (int j = 0; j < i; ++j) {
            if (firsts[i] <= lasts[j] && firsts[j] <= lasts[i]) {
                layout_error("Partition overlap");
                return -1;
            }
        }
    }

    for (int i = 0; i < count; ++i) {
        const partinfo &p = parts[i];
        gpt_entry e{};
        int rc = gen_rand_uuid(e.type_guid);
        if (rc == 0)
            rc = gen_rand_uuid(e.unique_guid);
        if (rc != 0)
            return rc;
        uint8_t fixed[16];
        if (p.uuid[0] && uuid_str_to_bin(p.uuid, fixed, 1) == 0)
            memcpy(e.unique_guid, fixed, 16);
        e.first_lba = static_cast<uint64_t>(firsts[i]);
        e.last_lba = static_cast<uint64_t>(lasts[i]);
        e.attributes = p.bootable ? 0x4 : 0;
        for (size_t k = 0; k < sizeof p.name && p.name[k]; ++k)
            e.name[k] = static_cast<uint8_t>(p.name[k]);
        memcpy(entries + i * GPT_ENTRY_SIZE, &e, sizeof e);
    }

    gpt_header h{};
    memcpy(h.signature, "EFI PART", 8);
    h.revision = 0x00010000;
    h.header_size = sizeof(gpt_header);
    h.current_lba = 1;
    h.backup_lba = static_cast<uint64_t>(L - 1);
    h.first_usable_lba = static_cast<uint64_t>(firstUsable);
    h.last_usable_lba = static_cast<uint64_t>(lastUsable);
    int rc = gen_rand_uuid(h.disk_guid);
    if (rc != 0)
        return rc;
    h.entries_lba = 2;
    h.num_entries = GPT_ENTRIES;
    h.entry_size = GPT_ENTRY_SIZE;
    h.entries_crc32 = crc32_le(0, entries, GPT_ARRAY_BYTES);
    header_crc(h);
    memcpy(primary.data() + ss, &h, sizeof h);

    std::vector<uint8_t> backup(ss + GPT_ARRAY_BYTES, 0);
    memcpy(backup.data(), entries, GPT_ARRAY_BYTES);
    gpt_header b = h;
    b.current_lba = h.backup_lba;
    b.backup_lba = h.current_lba;
    b.entries_lba = static_cast<uint64_t>(lastUsable + 1);
    header_crc(b);
    memcpy(backup.data() + GPT_ARRAY_BYTES, &b, sizeof b);

    // Backup first: until the primary header is replaced the disk still
    // shows its old table, and a write that fails half-way never leaves a
    // new primary pointing at a backup that is not there.
    const int64_t backupOffset = static_cast<int64_t>(ss) * (lastUsable + 1);
    if (write(device, backupOffset, static_cast<int64_t>(backup.size()), backup.data()) !=
        static_cast<int64_t>(backup.size()))
        return -EIO;
    if (write(device, 0, static_cast<int64_t>(primary.size()), primary.data()) != static_cast<int64_t>(primary.size()))
        return -EIO;
    return 0;
}
