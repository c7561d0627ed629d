// Temporary: entry points not implemented yet fail cleanly.
#include "storage/imagewriter.h"
#include "storage/mmc.h"
#include "storage/parttable.h"

int BUFFER_SIZE = 0x4000000;
int mmc_fd = -1;
int mmc_open(const char *) { return -ENOSYS; }
int mmc_release(void) { return 0; }
int64_t mmc_read(const char *, int64_t, int64_t, void *) { return -ENOSYS; }
int64_t mmc_write(const char *, int64_t, int64_t, const void *) { return -ENOSYS; }
int mmc_discard(const char *, int64_t, int64_t, const char *, int, int, const mmc_discard_callback &) { return -ENOSYS; }
int mmc_rrpart(const char *) { return -ENOSYS; }
int64_t get_disk_capacity(const char *, int *, int *) { return -1; }
int file_test(const char *) { return -ENOSYS; }
void gui_setup_progress_report_function(const char *, progress_report_fn, speed_report_fn) {}
const char *gui_progress_owner(void) { return ""; }
void stream_set_cancel_flag(const std::atomic<bool> *) {}
bool stream_cancel_requested(void) { return false; }
void stream_set_current(const char *, const char *, int, int) {}
void stream_init(FILE *, int64_t) {}
int64_t stream_read(void *, int64_t) { return -1; }
int64_t stream_write(const void *, int64_t) { return -1; }
int stream_show_stat(void) { return 0; }
void postSpeedToGui(void) {}
void stream_release(void) {}
int ext4_write_raw(const char *, int64_t, int64_t) { return -1; }
int ext4_read_raw(const char *, int64_t, int64_t) { return -1; }
int write_raw(const char *, int64_t, int64_t, FILE *, int64_t, const char *, const char *, int, int) { return -1; }
int read_raw(const char *, int64_t, int64_t, FILE *, int64_t, const char *, const char *, int, int) { return -1; }
void mmc_reset_state_for_test(void) {}
bool sparse_header_is_sparse(const sparse_header_t &) { return false; }
int write_image(const char *, int64_t, int64_t, FILE *, int64_t, const char *, const char *, int, int) { return -1; }
int ext4_compress_write(const char *, int64_t, int64_t, const sparse_header_t *) { return -1; }
int write_raw_gz(const char *, int64_t, int64_t, FILE *, int64_t, const char *, const char *, int, int) { return -1; }
int decompress_gz(FILE *, FILE *, int64_t) { return -1; }
int gzip_read(FILE *, void *, int) { return -1; }
int disk_part_table_make(const char *, int64_t, const mbr_part *, int, const part_write_fn &) { return -1; }
int part_table_make_extended(const char *, int64_t, int64_t, int64_t, const mbr_part *, int, const part_write_fn &) { return -1; }
int disk_part_table_info(const char *, int64_t, int64_t, mbr_entry *, int *, int, const part_read_fn &) { return -1; }
int gpt_part_table_make(const char *, int64_t, int, const partinfo *, int, const part_write_fn &) { return -1; }
uint32_t crc32_le(uint32_t, const void *, size_t) { return 0; }
int gen_rand_uuid(uint8_t *) { return -ENOSYS; }
int uuid_str_to_bin(const char *, uint8_t *, int) { return -EINVAL; }
