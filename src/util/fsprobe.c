/* Superblock magic probes for filesystem images. */
#include "util/fsprobe.h"

#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

#define EXT4_SUPERBLOCK_OFFSET 1024
#define EXT4_SUPERBLOCK_READ 84
#define EXT4_MAGIC_OFFSET 56
#define EXT4_MAGIC 0xEF53

#define BTRFS_SUPERBLOCK_OFFSET 65536
#define BTRFS_SUPERBLOCK_READ 936
#define BTRFS_MAGIC_OFFSET 64
#define BTRFS_MAGIC "_BHRfS_M"

/* Reads exactly `len` bytes at `offset`; short files and interrupted reads
 * are told apart from a complete read. Returns 0, or -1 with errno set
 * (EIO standing for "file ends first"). */
static int read_exact(int fd, off_t offset, unsigned char *buf, size_t len)
{
    size_t got = 0;
    while (got < len) {
        ssize_t n = pread(fd, buf + got, len - got, offset + (off_t)got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0) {
            errno = EIO;
            return -1;
        }
        got += (size_t)n;
    }
    return 0;
}

int is_ext4_filesystem(const char *path)
{
    unsigned char sb[EXT4_SUPERBLOCK_READ];
    int fd = path ? open(path, O_RDONLY | O_CLOEXEC) : -1;
    if (fd < 0) {
        perror("Failed to open image file");
        return -1;
    }
    if (lseek(fd, EXT4_SUPERBLOCK_OFFSET, SEEK_SET) < 0) {
        perror("Failed to seek to superblock");
        close(fd);
        return -1;
    }
    if (read_exact(fd, EXT4_SUPERBLOCK_OFFSET, sb, sizeof(sb)) != 0) {
        perror("Failed to read superblock");
        close(fd);
        return -1;
    }
    if (close(fd) != 0)
        perror("close");
    /* The superblock is little-endian on every host. */
    uint16_t magic = (uint16_t)(sb[EXT4_MAGIC_OFFSET] | (sb[EXT4_MAGIC_OFFSET + 1] << 8));
    return magic == EXT4_MAGIC ? 1 : 0;
}

int is_btrfs_image(const char *path)
{
    unsigned char sb[BTRFS_SUPERBLOCK_READ];
    int fd = path ? open(path, O_RDONLY | O_CLOEXEC) : -1;
    if (fd < 0) {
        perror("open");
        return 0;
    }
    if (lseek(fd, BTRFS_SUPERBLOCK_OFFSET, SEEK_SET) < 0) {
        perror("lseek");
        close(fd);
        return 0;
    }
    if (read_exact(fd, BTRFS_SUPERBLOCK_OFFSET, sb, sizeof(sb)) != 0) {
        perror("read");
        close(fd);
        return 0;
    }
    if (close(fd) != 0)
        perror("close");
    return memcmp(sb + BTRFS_MAGIC_OFFSET, BTRFS_MAGIC, strlen(BTRFS_MAGIC)) == 0 ? 1 : 0;
}
