// The RKFW firmware container: a header, the payload (an RKAF update
// image), and the MD5 of everything before it as 32 hexadecimal characters.
#include "storage/rkimage.h"

#include "storage/evp_md_ctx_free.h"
#include "storage/file_ptr.h"
#include "util/log2file.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

constexpr size_t PIECE = 1024;

} // namespace

int rk_copy_to_file(FILE *fp, int64_t offset, int64_t length, const char *outPath, int *openErrno)
{
    *openErrno = 0;
    // O_NOFOLLOW: a link planted at the target must not redirect the write.
    const int fd = open(outPath, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        *openErrno = errno;
        return -1;
    }
    file_ptr out(fdopen(fd, "wb"));
    if (!out) {
        *openErrno = errno;
        close(fd);
        return -1;
    }
    if (fseeko(fp, offset, SEEK_SET) != 0) {
        log2file("can't seek to 0x%llx: %s\n", static_cast<long long>(offset), strerror(errno));
        return -1;
    }
    char buf[PIECE];
    int64_t left = length;
    while (left > 0) {
        const size_t want = left < static_cast<int64_t>(PIECE) ? static_cast<size_t>(left) : PIECE;
        const size_t got = fread(buf, 1, want, fp);
        if (got > 0 && fwrite(buf, 1, got, out.get()) != got) {
            log2file("can't write \"%s\": %s\n", outPath, strerror(errno));
            return -1;
        }
        left -= static_cast<int64_t>(got);
        if (got < want) {
            log2file("input ends 0x%llx bytes early for \"%s\"\n", static_cast<long long>(left), outPath);
            return -1;
        }
    }
    if (fclose(out.release()) != 0) {
        log2file("can't write \"%s\": %s\n", outPath, strerror(errno));
        return -1;
    }
    return 0;
}

int rkfw_parse_header(const void *buf, size_t len, rkfw_info *out)
{
    if (len < RKFW_HEADER_SIZE)
        return -1;
    rkfw_header h;
    memcpy(&h, buf, sizeof h);
    if (memcmp(h.magic, "RKFW", 4) != 0)
        return -1;
    memset(out, 0, sizeof *out);
    out->version = h.version;
    out->year = h.year;
    out->month = h.month;
    out->day = h.day;
    out->hour = h.hour;
    out->minute = h.minute;
    out->second = h.second;
    out->chip = h.chip;
    out->payload_offset = h.payload_offset;
    out->payload_length = h.payload_length;
    out->digest_offset = out->payload_offset + out->payload_length;
    return 0;
}

int check_md5sum(FILE *fp, int64_t length)
{
    if (length < 0 || fseeko(fp, 0, SEEK_SET) != 0)
        return -1;
    evp_md_ctx_ptr ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_md5(), nullptr) != 1)
        return -1;
    unsigned char buf[PIECE];
    int64_t left = length;
    while (left > 0) {
        const size_t want = left < static_cast<int64_t>(PIECE) ? static_cast<size_t>(left) : PIECE;
        const size_t got = fread(buf, 1, want, fp);
        if (got > 0 && EVP_DigestUpdate(ctx.get(), buf, got) != 1)
            return -1;
        left -= static_cast<int64_t>(got);
        if (got < want)
            return -1;   // the digest text would lie past the end of the file
    }
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int mdLen = 0;
    if (EVP_DigestFinal_ex(ctx.get(), md, &mdLen) != 1 || mdLen * 2 != RKFW_DIGEST_LEN)
        return -1;
    char stored[RKFW_DIGEST_LEN];
    if (fread(stored, 1, sizeof stored, fp) != sizeof stored)
        return -1;
    static const char hex[] = "0123456789abcdef";
    for (unsigned i = 0; i < mdLen; i++) {
        const char hi = static_cast<char>(tolower(static_cast<unsigned char>(stored[2 * i])));
        const char lo = static_cast<char>(tolower(static_cast<unsigned char>(stored[2 * i + 1])));
        if (hi != hex[md[i] >> 4] || lo != hex[md[i] & 0xF])
            return -1;
    }
    return 0;
}

int export_data(const char *outPath, int64_t offset, int64_t length, FILE *fp)
{
    int openErrno = 0;
    const int r = rk_copy_to_file(fp, offset, length, outPath, &openErrno);
    if (r != 0 && openErrno != 0)
        log2file("can't open output file \"%s\": %s\n", outPath, strerror(openErrno));
    return r;
}

int unpack_rom(const char *path, const char *outPath, std::string *why)
{
    std::string reason;
    const int ret = unpack_rom_checked(path, outPath, reason);
    if (why)
        *why = reason;
    return ret;
}

int unpack_rom_checked(const char *path, const char *outPath, std::string &why)
{
    file_ptr fp(fopen(path, "rb"));
    if (!fp) {
        why = strerror(errno);
        log2file("Can't open file %s\n, reason: %s\n", path, why.c_str());
        return -1;
    }
    unsigned char head[RKFW_HEADER_SIZE];
    if (fread(head, 1, sizeof head, fp.get()) != sizeof head) {
        log2file("The file is not a rockchip firmware format file: %s\n", path);
        why = "shorter than an RKFW header";
        return -1;
    }
    rkfw_info info;
    if (rkfw_parse_header(head, sizeof head, &info) != 0) {
        log2file("The file is not a rockchip firmware format file: %s\n", path);
        why = "no RKFW magic";
        return -1;
    }
    log2file("rom version: %x.%x.%x\n", info.version >> 24, (info.version >> 16) & 0xFF, info.version & 0xFFFF);
    log2file("build time: %d-%02d-%02d %02d:%02d:%02d\n", info.year, info.month, info.day, info.hour, info.minute,
             info.second);
    log2file("chip: %x\n", info.chip);
    log2file("checking md5sum....");
    if (check_md5sum(fp.get(), static_cast<int64_t>(info.digest_offset)) != 0) {
        log2file("Not match!\n");
        why = "MD5 checksum mismatch or the package is cut short";
        return -1;
    }
    log2file("OK\n");
    if (export_data(outPath, static_cast<int64_t>(info.payload_offset), static_cast<int64_t>(info.payload_length),
                    fp.get()) != 0) {
        why = "cannot copy the update image out of the package";
        return -1;
    }
    return 0;
}
