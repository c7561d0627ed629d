/* Recognition of ext2/3/4 and btrfs filesystem images by their superblock
 * magic. Plain C, usable by the storage layer and by Qt code alike. */
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

/* 1 when the ext2/3/4 superblock magic 0xEF53 is present at byte 1080 of the
 * file, 0 when not, -1 when the file cannot be opened or is too short to hold
 * a superblock (the reason goes to standard error through perror). */
int is_ext4_filesystem(const char *path);

/* 1 when the btrfs superblock magic "_BHRfS_M" is present at byte 65600 of
 * the file, else 0 (errors, including a short file, read as 0 after perror). */
int is_btrfs_image(const char *path);

#ifdef __cplusplus
}
#endif
