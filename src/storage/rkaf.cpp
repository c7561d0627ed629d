// The RKAF update image: a 2048-byte header with up to 16 entries, the
// entries' data, and the Rockchip CRC of everything before it.
#include "storage/rkimage.h"

#include "storage/file_ptr.h"
#include "storage/rkparm.h"
#include "util/log2file.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <sys/stat.h>

namespace {

void copy_text(char *dst, size_t dstSize, const char *src, size_t srcSize)
{
    const size_t n = strnlen(src, srcSize);
    memcpy(dst, src, n < dstSize - 1 ? n : dstSize - 1);
    dst[n < dstSize - 1 ? n : dstSize - 1] = '\0';
}

uint32_t get_le32(const unsigned char *p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

} // namespace

bool rkaf_file_name_is_safe(const char *name)
{
    if (!name || !*name || name[0] == '/')
        return false;
    const std::string s(name);
    size_t pos = 0;
    while (pos <= s.size()) {
        size_t slash = s.find('/', pos);
        if (slash == std::string::npos)
            slash = s.size();
        if (s.compare(pos, slash - pos, "..") == 0 && slash - pos == 2)
            return false;
        pos = slash + 1;
    }
    // A name that ends in "/" names a directory, not a file to extract.
    return s.back() != '/';
}

int rkaf_parse_header(const void *buf, size_t len, rkaf_info *out)
{
    if (len < RKAF_HEADER_SIZE)
        return -1;
    std::unique_ptr<rkaf_header> h(new rkaf_header);
    memcpy(h.get(), buf, sizeof *h);
    if (memcmp(h->magic, "RKAF", 4) != 0)
        return -1;
    if (h->num_parts > RKAF_MAX_ENTRIES)
        return -2;
    memset(out, 0, sizeof *out);
    out->length = h->length;
    out->count = h->num_parts;
    for (uint32_t i = 0; i < out->count; i++) {
        const rkaf_entry &e = h->parts[i];
        rkaf_item &it = out->items[i];
        copy_text(it.name, sizeof it.name, e.name, sizeof e.name);
        copy_text(it.file, sizeof it.file, e.file, sizeof e.file);
        it.raw_offset = e.offset;
        it.raw_size = e.size;
        it.offset = e.offset;
        it.size = e.size;
        it.state = RKAF_ITEM_EXTRACT;
        if (strcmp(it.file, "SELF") == 0) {
            it.state = RKAF_ITEM_SELF;
            continue;
        }
        if (!rkaf_file_name_is_safe(it.file)) {
            it.state = RKAF_ITEM_BAD_NAME;
            continue;
        }
        // The parameter entry stores the whole on-device block; only the
        // text between its 8-byte head and 4-byte CRC is the file.
        if (strncmp(it.name, "parameter", 9) == 0) {
            if (it.size < 12) {
                it.state = RKAF_ITEM_OUT_OF_RANGE;
                continue;
            }
            it.offset += 8;
            it.size -= 12;
        }
        if (it.offset + it.size > out->length)
            it.state = RKAF_ITEM_OUT_OF_RANGE;
    }
    return 0;
}

uint32_t filestream_crc(FILE *fp, int64_t length)
{
    uint32_t crc = 0;
    unsigned char buf[1024];
    while (length > 0) {
        const size_t want = length < static_cast<int64_t>(sizeof buf) ? static_cast<size_t>(length) : sizeof buf;
        const size_t got = fread(buf, 1, want, fp);
        crc = crc32_rk(crc, buf, got);
        length -= static_cast<int64_t>(got);
        if (got < want)
            break;
    }
    return crc;
}

int create_dir(const char *path)
{
    const std::string p(path ? path : "");
    for (size_t slash = p.find('/', 1); slash != std::string::npos; slash = p.find('/', slash + 1)) {
        const std::string prefix = p.substr(0, slash);
        if (mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) {
            log2file("Can't create directory: %s\n", prefix.c_str());
            return -1;
        }
    }
    return 0;
}

int extract_file(FILE *fp, int64_t offset, int64_t length, const char *outPath)
{
    int openErrno = 0;
    const int r = rk_copy_to_file(fp, offset, length, outPath, &openErrno);
    if (r != 0 && openErrno != 0)
        log2file("Can't open/create file: %s\n", outPath);
    return r;
}

namespace {

const char *item_problem(rkaf_item_state state)
{
    return state == RKAF_ITEM_BAD_NAME ? "its file name leaves the package directory"
                                       : "its data lies outside the package";
}

// Checks every entry before the first is extracted: a package with one
// bad entry is refused whole rather than installed without that partition.
bool entries_ok(const rkaf_info &info, const char *outDir, const struct stat &self, std::string &why)
{
    for (uint32_t i = 0; i < info.count; i++) {
        const rkaf_item &it = info.items[i];
        if (it.state == RKAF_ITEM_SELF)
            continue;
        const std::string target = std::string(outDir) + "/" + it.file;
        const char *problem = nullptr;
        struct stat st;
        if (it.state != RKAF_ITEM_EXTRACT)
            problem = item_problem(it.state);
        else if (target.size() >= PATH_MAX)
            problem = "its path is too long";
        else if (stat(target.c_str(), &st) == 0 && st.st_dev == self.st_dev && st.st_ino == self.st_ino)
            problem = "it would overwrite the package";
        if (problem) {
            fprintf(stderr, "Invalid part: %s\n", it.name);
            why = std::string("invalid part ") + it.name + " (" + it.file + "): " + problem;
            return false;
        }
    }
    return true;
}

} // namespace

int unpack_update(const char *path, const char *outDir, std::string *why)
{
    std::string reason;
    const int ret = unpack_update_checked(path, outDir, reason);
    if (why)
        *why = reason;
    return ret;
}

int unpack_update_checked(const char *path, const char *outDir, std::string &why)
{
    file_ptr fp(fopen(path, "rb"));
    if (!fp) {
        why = std::string("cannot open the update image: ") + strerror(errno);
        fprintf(stderr, "can't open file \"%s\": %s\n", path, why.c_str());
        return -1;
    }
    std::unique_ptr<unsigned char[]> head(new unsigned char[RKAF_HEADER_SIZE]);
    if (fread(head.get(), 1, RKAF_HEADER_SIZE, fp.get()) != RKAF_HEADER_SIZE) {
        fprintf(stderr, "Can't read image header\n");
        why = "the update image is shorter than its header";
        return -1;
    }
    std::unique_ptr<rkaf_info> info(new rkaf_info);
    const int pr = rkaf_parse_header(head.get(), RKAF_HEADER_SIZE, info.get());
    if (pr == -1) {
        fprintf(stderr, "Invalid header magic\n");
        why = "no RKAF magic";
        return -1;
    }
    if (pr == -2) {
        fprintf(stderr, "Invalid entry count %u (at most %d)\n", get_le32(head.get() + 136), RKAF_MAX_ENTRIES);
        why = "more than " + std::to_string(RKAF_MAX_ENTRIES) + " entries";
        return -1;
    }

    unsigned char crcBytes[4];
    if (fseeko(fp.get(), info->length, SEEK_SET) != 0 || fread(crcBytes, 1, 4, fp.get()) != 4) {
        fprintf(stderr, "Can't read crc checksum\n");
        why = "the update image ends before its checksum";
        return -1;
    }
    log2file("Check file...");
    if (fseeko(fp.get(), 0, SEEK_SET) != 0 || filestream_crc(fp.get(), info->length) != get_le32(crcBytes)) {
        log2file("Fail\n");
        why = "checksum mismatch";
        return -1;
    }
    log2file("OK\n");
    log2file("------- UNPACK -------\n");

    // An entry must not overwrite the container it is being read from (the
    // payload may have been unpacked into the output directory itself).
    struct stat self;
    if (fstat(fileno(fp.get()), &self) != 0) {
        fprintf(stderr, "can't stat \"%s\": %s\n", path, strerror(errno));
        why = std::string("cannot stat the update image: ") + strerror(errno);
        return -1;
    }
    if (!entries_ok(*info, outDir, self, why))
        return -1;
    for (uint32_t i = 0; i < info->count; i++) {
        const rkaf_item &it = info->items[i];
        log2file("%s\t0x%08X\t0x%08X\n", it.file, it.raw_offset, it.raw_size);
        if (it.state == RKAF_ITEM_SELF) {
            log2file("Skip SELF file.\n");
            continue;
        }
        const std::string target = std::string(outDir) + "/" + it.file;
        if (create_dir(target.c_str()) != 0
            || extract_file(fp.get(), static_cast<int64_t>(it.offset), static_cast<int64_t>(it.size),
                            target.c_str()) != 0) {
            why = std::string("cannot extract ") + it.file;
            return -1;
        }
    }
    return 0;
}
