// DOS/MBR partition table with an EBR chain, and its reader.
#include "storage/parttable.h"
#include "util/log2file.h"

#include <cerrno>
#include <cstring>
#include <set>

namespace {
constexpr int64_t EBR_GAP = 2048;
constexpr size_t MAX_TABLES = 4 * MBR_MAX_PARTITIONS;   // MBR and EBRs one walk may read   // sectors between an EBR and its partition (1 MiB)

#pragma pack(push, 1)
struct mbr_part_entry
{
    uint8_t boot;
    uint8_t chs_start[3];
    uint8_t type;
    uint8_t chs_end[3];
    uint32_t start_lba;
    uint32_t sectors;
};
#pragma pack(pop)
static_assert(sizeof(mbr_part_entry) == 16, "MBR entry is 16 bytes");

void set_entry(uint8_t *sector, int slot, uint8_t type, int64_t start, int64_t size)
{
    mbr_part_entry e{};
    e.boot = 0x00;
    e.chs_start[0] = 0x01;
    e.chs_start[1] = 0x01;
    e.chs_start[2] = 0x00;
    e.type = type;
    e.chs_end[0] = 0xFE;
    e.chs_end[1] = 0xFF;
    e.chs_end[2] = 0xFF;
    // Values beyond 32 bits cannot be stored; the largest one is the most
    // honest approximation of "to the end of a disk beyond 2 TiB".
    e.start_lba = static_cast<uint32_t>(start);
    e.sectors = size > 0xFFFFFFFFLL ? 0xFFFFFFFFu : static_cast<uint32_t>(size);
    memcpy(sector + 446 + 16 * slot, &e, sizeof e);
}

void set_signature(uint8_t *sector)
{
    sector[510] = 0x55;
    sector[511] = 0xAA;
}

// A write callback that writes nothing: the layout is checked in full with
// it before anything reaches the device.
int64_t dry_write(const char *, int64_t, int64_t length, const void *)
{
    return length;
}

int write_sector(const char *device, int64_t sector, const uint8_t *buf, const part_write_fn &write)
{
    const int64_t ret = write(device, sector * 512, 512, buf);
    if (ret < 0)
        return static_cast<int>(ret);
    return ret == 512 ? 512 : -EIO;
}

int make_extended(const char *device, int64_t diskSectors, int64_t ebrSector, int64_t extendedStart,
                  const mbr_part *parts, int count, const part_write_fn &write)
{
    if (count <= 0)
        return 0;
    const int64_t start = parts[0].start;
    if (start == 0) {
        log2file("-- Fail: invalid part.%d start 0x%lx --\n", 0, 0L);
        return -1;
    }
    // The partition may not begin on its own EBR.
    if (start <= ebrSector) {
        log2file("** Fail: overlapped part table 0x%llx previous 0x%llx (EBR) **\n", (long long)(start * 512),
                 (long long)(ebrSector * 512));
        return -1;
    }
    const int64_t available = diskSectors - ebrSector;
    const int64_t length = parts[0].size ? parts[0].size : diskSectors - start;
    if (length <= 0 || length > available || start + length > diskSectors) {
        log2file("-- Fail: invalid length 0x%llx, avaliable (0x%llx)(EBR) --\n", (long long)(length * 512),
                 (long long)(available * 512));
        return -1;
    }
    uint8_t sector[512] = {};
    set_entry(sector, 0, 0x83, start - ebrSector, length);
    int64_t nextEbr = -1;
    if (count > 1) {
        const int64_t next = parts[1].start;
        if (next == 0) {
            log2file("-- Fail: invalid part.%d start 0x%lx --\n", 1, 0L);
            return -1;
        }
        // The next EBR sits 2048 sectors before its partition; inside this
        // partition it would be overwritten by this partition's image.
        if (next - EBR_GAP < start + length) {
            log2file("** Fail: overlapped part table 0x%llx previous 0x%llx (EBR) **\n",
                     (long long)((next - EBR_GAP) * 512), (long long)((start + length) * 512));
            return -1;
        }
        const int64_t nextLength = parts[1].size ? parts[1].size : diskSectors - next;
        if (nextLength <= 0 || next + nextLength > diskSectors) {
            log2file("-- Fail: invalid length 0x%llx, avaliable (0x%llx)(EBR) --\n", (long long)(nextLength * 512),
                     (long long)((diskSectors - ebrSector) * 512));
            return -1;
        }
        nextEbr = next - EBR_GAP;
        set_entry(sector, 1, 0x05, nextEbr - extendedStart, nextLength + EBR_GAP);
    }
    set_signature(sector);
    const int ret = write_sector(device, ebrSector, sector, write);
    if (ret < 0 || count == 1)
        return ret;
    // The last EBR ends the chain (its link slot is empty): no further
    // signature-only sector is written, as it would land in the first sector
    // of a logical partition whose contents we must leave alone.
    return make_extended(device, diskSectors, nextEbr, extendedStart, parts + 1, count - 1, write);
}

int make_table(const char *device, int64_t diskSectors, const mbr_part *parts, int count,
               const part_write_fn &write)
{
    if (count < 1 || count > MBR_MAX_PARTITIONS) {
        log2file("** Can't make partition tables %d (1 ~ %d) **\n", count, MBR_MAX_PARTITIONS);
        return -1;
    }
    const int primaries = count <= 4 ? count : 3;
    uint8_t mbr[512] = {};
    int64_t limit = diskSectors, prevEnd = 0, end = 0;
    for (int i = 0; i < primaries; ++i) {
        const int64_t start = parts[i].start;
        int64_t size = parts[i].size;
        if (start <= 0 || start >= diskSectors) {
            log2file("-- Fail: invalid part.%d start %ld block --\n", i, (long)start);
            return -1;
        }
        if (size < 0) {
            log2file("-- Fail: invalid length 0x%llx, avaliable (0x%llx) --\n", (long long)(size * 512),
                     (long long)((diskSectors - prevEnd) * 512));
            return -1;
        }
        if (size != 0) {
            end = start + size;
            if (end > limit) {
                log2file("** Fail: overlapped part table (0x%llx > 0x%llx) **\n", (long long)(end * 512),
                         (long long)(limit * 512));
                return -1;
            }
        } else {
            size = diskSectors - start;
            limit = start;
            end = 0;
        }
        if (diskSectors - prevEnd < size) {
            log2file("-- Fail: invalid length 0x%llx, avaliable (0x%llx) --\n", (long long)(size * 512),
                     (long long)((diskSectors - prevEnd) * 512));
            return -1;
        }
        if (start < prevEnd) {
            log2file("** Fail: overlapped part table (0x%llx < 0x%llx) **\n", (long long)(start * 512),
                     (long long)(prevEnd * 512));
            return -1;
        }
        prevEnd = end;
        set_entry(mbr, i, 0x83, start, size);
    }
    set_signature(mbr);
    if (count <= 4)
        return write_sector(device, 0, mbr, write);

    const int64_t extendedStart = static_cast<int64_t>(parts[3].start) - EBR_GAP;
    if (extendedStart <= 0 || extendedStart < end || end == 0) {
        log2file("** Overlapped extended part table 0x%llx (with offset -0x%llx) previous 0x%llx **\n",
                 (long long)(extendedStart * 512), 0x100000LL, (long long)(end * 512));
        return -1;
    }
    // The extended partition runs from its first EBR to the end of the disk
    // (also when the layout leaves a gap after the third partition).
    set_entry(mbr, 3, 0x05, extendedStart, diskSectors - extendedStart);
    const int ret = write_sector(device, 0, mbr, write);
    if (ret < 0)
        return ret;
    return make_extended(device, diskSectors, extendedStart, extendedStart, parts + 3, count - 3, write);
}
} // namespace

int disk_part_table_make(const char *device, int64_t diskSectors, const mbr_part *parts, int count,
                         const part_write_fn &write)
{
    if (!write) {
        log2file("Error, not defined disk write callback fn !!!\n");
        return -EINVAL;
    }
    if (!parts && count > 0)
        return -1;
    // Check the whole layout, logical partitions included, before the
    // first sector is written: a bad layout leaves the disk untouched.
    const int dry = make_table(device, diskSectors, parts, count, dry_write);
    if (dry < 0)
        return dry;
    return make_table(device, diskSectors, parts, count, write);
}

int part_table_make_extended(const char *device, int64_t diskSectors, int64_t ebrSector, int64_t extendedStart,
                             const mbr_part *parts, int count, const part_write_fn &write)
{
    if (!write) {
        log2file("Error, not defined disk write callback fn !!!\n");
        return -EINVAL;
    }
    const int dry = make_extended(device, diskSectors, ebrSector, extendedStart, parts, count, dry_write);
    if (dry < 0)
        return dry;
    return make_extended(device, diskSectors, ebrSector, extendedStart, parts, count, write);
}

namespace {
bool is_extended(uint8_t type)
{
    return type == 0x0F || (type & 0x7F) == 0x05;
}

struct chain_walk
{
    const char *device;
    mbr_entry *entries;
    int *counter;
    int maxEntries;
    const part_read_fn &read;
    std::set<int64_t> visited;
};

int walk(chain_walk &w, int64_t tableSector, int64_t extendedStart)
{
    // A chain that comes back to a table already read would never end; one
    // of empty links could run through the whole disk.
    if (!w.visited.insert(tableSector).second) {
        log2file("partition chain loops back to sector %lld, stopped\n", (long long)tableSector);
        return 0;
    }
    if (w.visited.size() > MAX_TABLES) {
        log2file("partition chain longer than %zu tables, stopped\n", MAX_TABLES);
        return 0;
    }
    uint8_t buf[4096];
    const int64_t ret = w.read(w.device, tableSector * 512, sizeof buf, buf);
    if (ret < 0)
        return static_cast<int>(ret);
    if (ret < 512)
        return -EIO;
    const bool isMbr = tableSector == 0;
    mbr_part_entry e[4];
    memcpy(e, buf + 446, sizeof e);
    for (const mbr_part_entry &p : e) {
        if (p.type == 0 || (!isMbr && is_extended(p.type)))
            continue;
        if (*w.counter >= w.maxEntries) {
            log2file("partition list full (%d entries), rest ignored\n", w.maxEntries);
            return 0;
        }
        mbr_entry &out = w.entries[*w.counter];
        out.start = isMbr ? p.start_lba : static_cast<uint32_t>(tableSector + p.start_lba);
        out.size = p.sectors;
        out.type = p.type;
        if (p.start_lba != 0 && p.sectors != 0)
            ++*w.counter;
    }
    for (const mbr_part_entry &p : e) {
        if (!is_extended(p.type))
            continue;
        const int64_t base = isMbr ? p.start_lba : extendedStart;
        const int64_t next = isMbr ? p.start_lba : extendedStart + p.start_lba;
        const int r = walk(w, next, base);
        if (r < 0)
            return r;
        if (*w.counter >= w.maxEntries)
            return 0;
    }
    return 0;
}
} // namespace

int disk_part_table_info(const char *device, int64_t tableSector, int64_t extendedStart, mbr_entry *entries,
                         int *counter, int maxEntries, const part_read_fn &read)
{
    if (!read) {
        log2file("Error, not defined disk read function ptr !!!\n");
        return -EINVAL;
    }
    if (!entries || !counter || maxEntries < 0)
        return -EINVAL;
    chain_walk w{device, entries, counter, maxEntries, read, {}};
    return walk(w, tableSector, extendedStart);
}
