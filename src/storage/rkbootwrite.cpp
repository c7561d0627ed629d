// Writers of the Rockchip IDB loader copies and the parameter block copies.
#include "storage/rkparm.h"

#include "storage/copy_pipeline.h"
#include "storage/mmc.h"
#include "util/log2file.h"

#include <cerrno>
#include <cstring>
#include <memory>

namespace {

// Reads exactly `size` bytes of the loader or parameter file into a zeroed
// buffer of one copy. Returns nullptr on a short read.
std::unique_ptr<uint8_t[]> read_copy(FILE *fp, int64_t size, const char *what)
{
    std::unique_ptr<uint8_t[]> buf(new uint8_t[RK_COPY_SIZE]());
    if (size > 0 && fread(buf.get(), 1, static_cast<size_t>(size), fp) != static_cast<size_t>(size)) {
        log2file("%s: short read of %lld bytes\n", what, static_cast<long long>(size));
        return nullptr;
    }
    return buf;
}

// Writes one whole copy; a short count is a failure too, reported negative
// so that no caller can take it for success.
int write_copy(const part_write_fn &write, const char *device, int64_t offset, const uint8_t *buf)
{
    const int64_t r = write(device, offset, RK_COPY_SIZE, buf);
    if (r == RK_COPY_SIZE)
        return 0;
    log2file("cannot write 0x%llx bytes at 0x%llx of %s (ret=%lld)\n", static_cast<long long>(RK_COPY_SIZE),
             static_cast<long long>(offset), device, static_cast<long long>(r));
    return r < 0 ? static_cast<int>(r) : -EIO;
}

// Both areas are filled from a file that must fit one copy, on a device area
// that must hold every copy; the file is read once and reused for each copy.
std::unique_ptr<uint8_t[]> read_area_source(const char *what, int64_t areaSize, int64_t minArea, FILE *fp,
                                            int64_t fileSize, int64_t maxFile)
{
    if (areaSize < minArea || fileSize < 0 || fileSize > maxFile) {
        log2file("%s refused: area 0x%llx bytes (at least 0x%llx), file 0x%llx bytes (at most 0x%llx)\n", what,
                 static_cast<long long>(areaSize), static_cast<long long>(minArea),
                 static_cast<long long>(fileSize), static_cast<long long>(maxFile));
        return nullptr;
    }
    std::unique_ptr<uint8_t[]> buf = read_copy(fp, fileSize, what);
    if (buf)
        log2file(">     ");
    return buf;
}

// Writes through mmc_write and records each whole copy for the read-back
// (write_verify.h): these copies do not go through the copy stream.
part_write_fn mmc_writer()
{
    storage_internal::write_record_copies_begin();
    return [](const char *dev, int64_t off, int64_t len, const void *buf) {
        const int64_t r = mmc_write(dev, off, len, buf);
        if (r == len)
            storage_internal::write_record_add(static_cast<const uint8_t *>(buf), off, len, static_cast<size_t>(len));
        return r;
    };
}

} // namespace

int write_rk_idb_to(const char *device, int64_t offset, int64_t areaSize, FILE *fp, int64_t fileSize,
                    const part_write_fn &write)
{
    std::unique_ptr<uint8_t[]> buf =
        read_area_source("idbloader", areaSize, RK_IDB_AREA_BYTES, fp, fileSize, RK_COPY_SIZE);
    if (!buf)
        return -1;
    // The boot ROM tries the first copy first and falls back to the second
    // one 512 KiB later: the first is written first, so that a failure
    // leaves the old fallback copy untouched.
    for (int i = 0; i < 2; i++) {
        const int r = write_copy(write, device, offset + i * RK_COPY_SIZE, buf.get());
        if (r != 0)
            return r;
    }
    return 0;
}

int write_rk_parm_to(const char *device, int64_t offset, int64_t areaSize, FILE *fp, int64_t fileSize,
                     const part_write_fn &write)
{
    std::unique_ptr<uint8_t[]> buf =
        read_area_source("parameter", areaSize, RK_PARM_AREA_BYTES, fp, fileSize, RK_PARM_MAX_TEXT);
    if (!buf)
        return -1;
    rkimg_build_parameter(buf.get(), fileSize);
    // The loader reads the first copy whose CRC is good; the copies are
    // written in ascending order so a failure stops with the lowest ones
    // complete.
    for (int64_t pos = 0; pos < RK_PARM_AREA_BYTES; pos += RK_COPY_SIZE) {
        const int r = write_copy(write, device, offset + pos, buf.get());
        if (r != 0)
            return r;
    }
    return 0;
}

int write_rk_idb(const char *device, int64_t offset, int64_t areaSize, FILE *fp, int64_t fileSize,
                 const char *imageName, const char *partName, int fileCount, int fileIndex)
{
    stream_set_current(imageName, partName, fileCount, fileIndex);
    return write_rk_idb_to(device, offset, areaSize, fp, fileSize, mmc_writer());
}

int write_rk_parm(const char *device, int64_t offset, int64_t areaSize, FILE *fp, int64_t fileSize,
                  const char *imageName, const char *partName, int fileCount, int fileIndex)
{
    stream_set_current(imageName, partName, fileCount, fileIndex);
    return write_rk_parm_to(device, offset, areaSize, fp, fileSize, mmc_writer());
}
