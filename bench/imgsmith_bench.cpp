// Runs one writer of the storage layer the way the install job does: open
// the target, write the image, release (fdatasync). For scripts/bench.sh.
//
//   imgsmith-bench raw|raw-verify|gz|xz|zst|image|backup SOURCE TARGET [BUFFER_SIZE]
//
// raw: write_raw; raw-verify: write_raw hashing on the way, then the
// read-back of what it wrote (an install with verification);
// gz: write_raw_gz; xz, zst: write_raw_compressed; image: write_image
// (sparse or raw);
// backup: read_raw of the whole SOURCE (as the device) into TARGET, with
// the SHA-256 of the manifest taken on the way.
// SOURCE (backup) and TARGET (the writers) may be block devices.
#include "storage/backup_manifest.h"
#include "storage/imagewriter.h"
#include "storage/mmc.h"
#include "storage/write_verify.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

static int usage()
{
    fprintf(stderr, "usage: imgsmith-bench raw|raw-verify|gz|xz|zst|image|backup SOURCE TARGET [BUFFER_SIZE]\n");
    return 2;
}

// Bytes of a block device (BLKGETSIZE64: stat() says 0 for one) or file.
static int64_t size_of(const char *path)
{
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    uint64_t bytes = 0;
    struct stat st;
    int64_t size = -1;
    if (ioctl(fd, BLKGETSIZE64, &bytes) == 0)
        size = static_cast<int64_t>(bytes);
    else if (fstat(fd, &st) == 0)
        size = static_cast<int64_t>(st.st_size);
    close(fd);
    return size;
}

int main(int argc, char **argv)
{
    if (argc < 4 || argc > 5)
        return usage();
    const std::string mode = argv[1];
    const char *src = argv[2];
    const char *dst = argv[3];
    if (argc == 5)
        BUFFER_SIZE = atoi(argv[4]);
    const int64_t srcSize = size_of(src);
    if (srcSize < 0) {
        fprintf(stderr, "cannot stat %s\n", src);
        return 1;
    }
    int ret;
    if (mode == "backup") {
        if (mmc_open(src) < 0) {
            fprintf(stderr, "cannot open %s\n", src);
            return 1;
        }
        FILE *out = fopen(dst, "wb");
        if (!out) {
            fprintf(stderr, "cannot create %s\n", dst);
            return 1;
        }
        // Digested while copying, as the back-up job does for its manifest.
        sha256_digest digest;
        stream_set_read_tap([&digest](const uint8_t *data, size_t length) { digest.update(data, length); });
        ret = read_raw(src, 0, srcSize, out, srcSize, dst, "root", 1, 1);
        stream_set_read_tap(nullptr);
        if (ret == 0 && digest.hex().size() != 64)
            ret = -1;
        // The back-up engine closes the file; force it out like the peers do.
        if (ret == 0 && (fflush(out) != 0 || fdatasync(fileno(out)) != 0))
            ret = -1;
        if (fclose(out) != 0)
            ret = -1;
        if (mmc_release() != 0)
            ret = -1;
    } else {
        if (mmc_open(dst) < 0) {
            fprintf(stderr, "cannot open %s\n", dst);
            return 1;
        }
        FILE *in = fopen(src, "rb");
        if (!in) {
            fprintf(stderr, "cannot open %s\n", src);
            return 1;
        }
        const int64_t part = size_of(dst);
        stream_set_verify(mode == "raw-verify");
        if (mode == "raw" || mode == "raw-verify")
            ret = write_raw(dst, 0, part, in, srcSize, src, "root", 1, 1);
        else if (mode == "gz")
            ret = write_raw_gz(dst, 0, part, in, srcSize, src, "root", 1, 1);
        else if (mode == "xz" || mode == "zst")
            ret = write_raw_compressed(image_compression_of(("." + mode).c_str()), dst, 0, part, in, srcSize, src,
                                       "root", 1, 1);
        else if (mode == "image")
            ret = write_image(dst, 0, part, in, srcSize, src, "root", 1, 1);
        else
            return usage();
        fclose(in);
        if (ret == 0 && mode == "raw-verify")
            ret = write_verify_readback(dst, nullptr, nullptr);
        // mmc_release does fdatasync: the data is on the target when it returns.
        if (mmc_release() != 0)
            ret = -1;
    }
    if (ret != 0) {
        fprintf(stderr, "%s failed: %d\n", mode.c_str(), ret);
        return 1;
    }
    return 0;
}
