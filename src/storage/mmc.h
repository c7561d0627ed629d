// Block device access and the streamed copy between an open file and the
// target device.
//
// Plain functions over process-wide state: one device (mmc_fd) and one copy
// at a time in the process, driven by one worker thread. Offsets and lengths
// are signed 64-bit byte counts unless a name says sectors; sector counts are
// always in 512-byte units, whatever the device's logical sector size.
//
// Every path argument is passed through imgsmith::sysPath(), so a simulated
// board (IMGSMITH_ROOT) works unchanged, and a regular file stands in for a
// device everywhere: ioctls it cannot serve are logged, not fatal.
#pragma once

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

// Memory of every streamed copy (64 MiB; start-up lowers it to 8 MiB on
// the low-memory SoCs), cut into four chunks so that reading runs ahead
// while a chunk is written. Tests may set a small value (at least 4096,
// else copies fail with -EINVAL; below 16 KiB there are fewer chunks of
// 4 KiB); it is read when a copy starts (stream_init) and must not change
// while one runs.
extern int BUFFER_SIZE;

// Descriptor of the device opened by mmc_open, -1 when none is open.
extern int mmc_fd;

// Result of a copy stopped through the cancel flag (distinct from -1, the
// result of a failed copy).
constexpr int MMC_COPY_CANCELLED = -ECANCELED;

// ---- device access ---------------------------------------------------------

// Opens `path` read-write into mmc_fd. Returns the descriptor, -errno when the
// path does not exist, -1 when it cannot be opened.
int mmc_open(const char *path);

// fdatasync + BLKFLSBUF + close of mmc_fd; nothing when no device is open.
// Returns 0, or a negative value when the data could not be forced out or the
// descriptor not closed (a failed BLKFLSBUF is only logged: regular files
// do not support it).
int mmc_release(void);

// Reads `length` bytes at `offset` of `path` (opened read-only for this call,
// independent of mmc_fd). Returns the byte count read (smaller only at the
// end of the file), -errno when the path does not exist, -1 on failure.
int64_t mmc_read(const char *path, int64_t offset, int64_t length, void *buf);

// Writes `length` bytes at `offset` of mmc_fd; `path` only names it in
// messages. Returns `length`, or a negative value: a write is complete or it
// fails, never short.
int64_t mmc_write(const char *path, int64_t offset, int64_t length, const void *buf);

// Called by mmc_discard: (name, a, b, done, percent); name, a and b are the
// caller's values passed through.
using mmc_discard_callback = std::function<void(const char *name, int a, int b, int done, int percent)>;

// Erases [start, start + length) of mmc_fd with BLKDISCARD in 128 MiB pieces,
// reporting progress through `callback` (may be empty). Returns the result
// of the last request (0 or negative), 0 when none was made.
int mmc_discard(const char *path, int64_t start, int64_t length, const char *name, int a, int b,
                const mmc_discard_callback &callback);

// Asks the kernel to re-read the partition table of mmc_fd (BLKRRPART).
int mmc_rrpart(const char *path);

// Capacity of a block device or regular file in 512-byte sectors; -1 when it
// cannot be opened. *isBlockDevice tells which it was; *sectorSize (may be
// null) receives the logical sector size of a block device.
int64_t get_disk_capacity(const char *path, int *isBlockDevice, int *sectorSize);

// 0 when `name` exists, -ENOENT for null, else -errno.
int file_test(const char *name);

// Opens an input file (image, map, package) at `path` (taken as it is, not
// resolved) for reading. Only a regular file or a block device is accepted,
// and the open never blocks, so a FIFO or a character device cannot hang
// the job. Returns the stream, or null with *err (may be null) set to the
// errno value: EINVAL for a file of another kind.
FILE *open_input_file(const char *path, int *err);

// 1 when both paths (taken as they are) name the same file: the same block
// device (st_rdev) or the same inode; 0 otherwise, also when either is missing.
int same_file(const char *a, const char *b);

// ---- streamed copy ---------------------------------------------------------

// Progress sink: (isErasing, imageName, partitionName, percent, fileCount,
// fileIndex). Called on the worker thread, once per whole percent that
// changes; it must only hand the values on (post an event).
using progress_report_fn = std::function<void(bool isErasing, const std::string &imageName,
                                              const std::string &partitionName, int percent,
                                              int fileCount, int fileIndex)>;
// Speed sink: (imageName, partitionName, bytesDone, bytesTotal, elapsed
// milliseconds since the start of this file). The sink computes the rate.
using speed_report_fn = std::function<void(const std::string &imageName, const std::string &partitionName,
                                           int64_t bytesDone, int64_t bytesTotal, double elapsedMs)>;

// Registers the two sinks (either may be empty) under the owner's name
// ("sdupdate_thread" for the install job). They stay until the next call.
void gui_setup_progress_report_function(const char *owner, progress_report_fn progressFn,
                                        speed_report_fn speedFn);

// Name registered by the last gui_setup_progress_report_function call.
const char *gui_progress_owner(void);

// Cooperative cancel: while `flag` is set (non-null and true) every copy
// stops between chunks and returns MMC_COPY_CANCELLED. The flag stays
// registered until replaced; pass nullptr to clear it. The caller keeps
// ownership and must keep it alive while registered.
void stream_set_cancel_flag(const std::atomic<bool> *flag);
bool stream_cancel_requested(void);

// Sets the image and partition names (borrowed, must outlive the copy) and
// the file count/index handed to the progress sink.
void stream_set_current(const char *imageName, const char *partitionName, int fileCount, int fileIndex);

// Observer of the bytes a back-up (ext4_read_raw / read_raw) takes from the
// device: called on the copy's writing side (the job's thread) with every
// chunk, in device order, before the chunk goes to the image file. Lets a back-up digest its image
// while copying instead of reading it a second time. Stays registered until
// replaced; pass an empty function to clear it.
using stream_read_tap_fn = std::function<void(const uint8_t *data, size_t length)>;
void stream_set_read_tap(stream_read_tap_fn tap);

// Starts a copy of `size` bytes between `fp` (owned by the caller) and the
// device: takes the start time and allocates the copy buffers (BUFFER_SIZE
// bytes in all). Returns 0, or -ENOMEM when they cannot be had (the
// copy functions then fail with -ENOMEM; the process goes on).
int stream_init(FILE *fp, int64_t size);
// Reads min(length, remaining, BUFFER_SIZE) bytes from the stream; returns
// that count, or the short count (without advancing) when fewer came.
int64_t stream_read(void *buf, int64_t length);
// Writes n bytes to the stream; returns n or the short count.
int64_t stream_write(const void *buf, int64_t n);
// Progress step: reports a changed whole percent (and speed); returns it.
int stream_show_stat(void);
// Speed step: reports bytes moved and milliseconds since stream_init.
void postSpeedToGui(void);
// Frees the copy buffers; does not close the stream.
void stream_release(void);

// Copies `length` bytes from the stream to the device at `offset`, in
// chunks of a quarter of BUFFER_SIZE, reading the next chunks while one is
// written. Returns 0, -1 on a short read or failed write (nothing is written
// at or after the position of a chunk that could not be read whole),
// MMC_COPY_CANCELLED when cancelled, -ENOMEM without buffers.
int ext4_write_raw(const char *path, int64_t offset, int64_t length);
// Copies `length` bytes of the device at `offset` to the stream.
int ext4_read_raw(const char *path, int64_t offset, int64_t length);

// Whole-file copies with progress: the image file `fp` (fileSize bytes, at
// its current position) to the device at `offset`, and the device range
// back into `fp` (back-up). partitionSize is not checked here.
int write_raw(const char *path, int64_t offset, int64_t partitionSize, FILE *fp, int64_t fileSize,
              const char *imageName, const char *partitionName, int fileCount, int fileIndex);
int read_raw(const char *path, int64_t offset, int64_t partitionSize, FILE *fp, int64_t fileSize,
             const char *imageName, const char *partitionName, int fileCount, int fileIndex);

// Puts every process-wide variable of this layer back to its start value
// (closes an open device without syncing, frees buffers, clears sinks and
// the cancel flag, BUFFER_SIZE back to 64 MiB). For tests.
void mmc_reset_state_for_test(void);
