// SHA-256 manifest of a back-up image: "<image>.sha256" beside the image, in
// the format of sha256sum ("<64 hex digits>  <file name>\n"), so that a user
// can check a back-up on any machine with `sha256sum -c`. The image is named
// by its base name: the check runs in the directory that holds both files.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>

typedef struct evp_md_ctx_st EVP_MD_CTX;

// Incremental SHA-256 (OpenSSL EVP). ok() is false when the digest could
// not be set up; update() and hex() then do nothing and return "".
class sha256_digest
{
public:
    sha256_digest();
    ~sha256_digest();
    sha256_digest(const sha256_digest &) = delete;
    sha256_digest &operator=(const sha256_digest &) = delete;

    bool ok() const { return m_ctx != nullptr && m_ok; }
    void update(const void *data, size_t length);
    // Lower-case hex of the digest of everything given so far; ends the
    // digest (a second call returns "").
    std::string hex();

private:
    EVP_MD_CTX *m_ctx;
    bool m_ok;
};

// "<imagePath>.sha256".
std::string backup_manifest_path(const std::string &imagePath);

// Writes the manifest of `imagePath` with `hexDigest`, replacing an old one,
// synced to the medium. Returns 0 or -errno.
int backup_manifest_write(const std::string &imagePath, const std::string &hexDigest);

// SHA-256 of a whole file, read in large pieces. Stops early with
// -ECANCELED while the storage layer's cancel flag is set. 0 or -errno.
int sha256_file(const std::string &path, std::string *hexDigest);

// Results of backup_manifest_verify.
constexpr int BACKUP_MANIFEST_NONE = 1;       // no manifest: nothing to check
constexpr int BACKUP_MANIFEST_MATCH = 0;
constexpr int BACKUP_MANIFEST_MISMATCH = -EBADMSG;
constexpr int BACKUP_MANIFEST_MALFORMED = -EINVAL;

// Checks `imagePath` against its manifest. Returns BACKUP_MANIFEST_NONE when
// there is none, MATCH, MISMATCH (expected and actual digests filled),
// MALFORMED when the manifest holds no line for the image, or the -errno of
// a failed read (-ECANCELED when cancelled).
int backup_manifest_verify(const std::string &imagePath, std::string *expected, std::string *actual);
