#include "storage/backup_manifest.h"

#include "storage/evp_md_ctx_free.h"
#include "storage/mmc.h"
#include "util/log2file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

sha256_digest::sha256_digest() : m_ctx(EVP_MD_CTX_new()), m_ok(false)
{
    if (m_ctx)
        m_ok = EVP_DigestInit_ex(m_ctx, EVP_sha256(), nullptr) == 1;
}

sha256_digest::~sha256_digest()
{
    evp_md_ctx_free()(m_ctx);
}

void sha256_digest::update(const void *data, size_t length)
{
    if (ok() && EVP_DigestUpdate(m_ctx, data, length) != 1)
        m_ok = false;
}

std::string sha256_digest::hex()
{
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (!ok() || EVP_DigestFinal_ex(m_ctx, md, &len) != 1) {
        m_ok = false;
        return std::string();
    }
    m_ok = false;
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < len; ++i) {
        out += digits[md[i] >> 4];
        out += digits[md[i] & 15];
    }
    return out;
}

std::string backup_manifest_path(const std::string &imagePath)
{
    return imagePath + ".sha256";
}

static std::string base_name(const std::string &path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int backup_manifest_write(const std::string &imagePath, const std::string &hexDigest)
{
    if (hexDigest.size() != 64)
        return -EINVAL;
    const std::string path = backup_manifest_path(imagePath);
    FILE *f = fopen(path.c_str(), "w");
    if (!f)
        return -errno;
    fprintf(f, "%s  %s\n", hexDigest.c_str(), base_name(imagePath).c_str());
    int rc = 0;
    // The manifest is worth nothing if it is lost while the image survives.
    if (fflush(f) != 0 || fsync(fileno(f)) != 0)
        rc = -errno;
    if (fclose(f) != 0 && rc == 0)
        rc = -errno;
    return rc;
}

int sha256_file(const std::string &path, std::string *hexDigest)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -errno;
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    sha256_digest digest;
    std::vector<unsigned char> buf(8 << 20);
    int rc = digest.ok() ? 0 : -ENOMEM;
    while (rc == 0) {
        if (stream_cancel_requested()) {
            rc = -ECANCELED;
            break;
        }
        const ssize_t n = read(fd, buf.data(), buf.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            rc = -errno;
        else if (n == 0)
            break;
        else
            digest.update(buf.data(), static_cast<size_t>(n));
    }
    close(fd);
    if (rc == 0) {
        *hexDigest = digest.hex();
        if (hexDigest->empty())
            rc = -EIO;
    }
    return rc;
}

// The digest of the manifest line naming `name`; a manifest of a single line
// names the image whatever name it carries (the image may have been renamed).
static std::string expected_digest(FILE *f, const std::string &name)
{
    char line[4096];
    std::string single;
    int lines = 0;
    while (fgets(line, sizeof line, f)) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        if (text.empty())
            continue;
        ++lines;
        if (text.size() < 66 || text[64] != ' ' || (text[65] != ' ' && text[65] != '*'))
            continue;
        std::string hex = text.substr(0, 64);
        bool isHex = true;
        for (char &c : hex) {
            c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
            isHex = isHex && strchr("0123456789abcdef", c) != nullptr;
        }
        if (!isHex)
            continue;
        if (text.substr(66) == name)
            return hex;
        single = hex;
    }
    return lines == 1 ? single : std::string();
}

int backup_manifest_verify(const std::string &imagePath, std::string *expected, std::string *actual)
{
    const std::string path = backup_manifest_path(imagePath);
    FILE *f = fopen(path.c_str(), "r");
    if (!f)
        return errno == ENOENT ? BACKUP_MANIFEST_NONE : -errno;
    *expected = expected_digest(f, base_name(imagePath));
    fclose(f);
    if (expected->empty())
        return BACKUP_MANIFEST_MALFORMED;
    const int rc = sha256_file(imagePath, actual);
    if (rc != 0)
        return rc;
    log2file("sha256 of %s: %s, manifest: %s\n", imagePath.c_str(), actual->c_str(), expected->c_str());
    return *actual == *expected ? BACKUP_MANIFEST_MATCH : BACKUP_MANIFEST_MISMATCH;
}
