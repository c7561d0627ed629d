// Streamed copy: the process-wide copy state, the progress and speed
// sinks, and the chunked copies between the image stream and the device.
#include "storage/copy_pipeline.h"
#include "storage/mmc.h"
#include "storage/write_verify.h"
#include "util/log2file.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <system_error>
#include <thread>
#include <sys/stat.h>
#include <unistd.h>

using namespace storage_internal;

int BUFFER_SIZE = 0x4000000;

// The copy memory: one BUFFER_SIZE block cut into g_slotCount slots.
static constexpr int MAX_SLOTS = 4;
static uint8_t *g_memory = nullptr;
static int g_slotCount = 0;
static size_t g_bufferSize = 0;
static FILE *stream = nullptr;
static int64_t file_size = 0;
static int64_t file_pos = 0;
static int percent = 0;
static struct timespec g_start, g_end;
static progress_report_fn postProgressMessageFunc;
static speed_report_fn postSpeedMessageFunc;
static char func_owner[255];
static const char *curr_img_filename = nullptr;
static const char *curr_pt_name = nullptr;
static int curr_file_count = 0;
static int curr_file_index = 0;
static std::atomic<const std::atomic<bool> *> g_cancelFlag{nullptr};
static stream_read_tap_fn g_readTap;

void gui_setup_progress_report_function(const char *owner, progress_report_fn progressFn, speed_report_fn speedFn)
{
    snprintf(func_owner, sizeof func_owner, "%s", owner ? owner : "");
    postProgressMessageFunc = std::move(progressFn);
    postSpeedMessageFunc = std::move(speedFn);
}

const char *gui_progress_owner(void)
{
    return func_owner;
}

void stream_set_cancel_flag(const std::atomic<bool> *flag)
{
    g_cancelFlag.store(flag);
}

void stream_set_read_tap(stream_read_tap_fn tap)
{
    g_readTap = std::move(tap);
}

bool stream_cancel_requested(void)
{
    const std::atomic<bool> *f = g_cancelFlag.load();
    return f && f->load();
}

void stream_set_current(const char *imageName, const char *partitionName, int fileCount, int fileIndex)
{
    curr_img_filename = imageName;
    curr_pt_name = partitionName;
    curr_file_count = fileCount;
    curr_file_index = fileIndex;
}

static void free_buffers()
{
    free(g_memory);
    g_memory = nullptr;
    g_slotCount = 0;
    g_bufferSize = 0;
}

// The copy continues with an error instead of ending the process when the
// buffers cannot be had: the copy functions then fail with -ENOMEM and the
// job reports it.
int stream_init(FILE *fp, int64_t size)
{
    clock_gettime(CLOCK_MONOTONIC, &g_start);
    free_buffers();
    stream = fp;
    file_size = size;
    file_pos = 0;
    percent = 0;
    write_record_reset();
    // A chunk must hold at least a sector (and a sparse header).
    if (BUFFER_SIZE < 4096) {
        log2file(": fail alloc buffer (%d), ret = %s\n", BUFFER_SIZE, strerror(EINVAL));
        return -EINVAL;
    }
    // Four slots of a quarter each (whole pages, as direct I/O wants them):
    // the reader can be three chunks ahead while one is written, and the
    // memory stays BUFFER_SIZE. Chunk sizes below four pages get fewer slots.
    size_t slot = static_cast<size_t>(BUFFER_SIZE) / MAX_SLOTS / 4096 * 4096;
    int count = MAX_SLOTS;
    if (slot < 4096) {
        slot = 4096;
        count = BUFFER_SIZE / 4096;
    }
    void *p = nullptr;
    if (posix_memalign(&p, 4096, slot * static_cast<size_t>(count)) != 0) {
        log2file(": fail alloc buffer (%d), ret = %s\n", BUFFER_SIZE, strerror(ENOMEM));
        return -ENOMEM;
    }
    g_memory = static_cast<uint8_t *>(p);
    g_slotCount = count;
    g_bufferSize = slot;
    return 0;
}

int64_t stream_read(void *buf, int64_t length)
{
    int64_t n = std::min<int64_t>(length, file_size - file_pos);
    n = std::min<int64_t>(n, BUFFER_SIZE);
    if (!stream)
        return -1;
    if (n <= 0)
        return 0;
    const size_t got = fread(buf, 1, static_cast<size_t>(n), stream);
    if (static_cast<int64_t>(got) != n) {
        log2file(": fail read file %ld, ret = %ld, err = %s\n", (long)n, (long)got,
                 strerror(ferror(stream) ? errno : EIO));
        return static_cast<int64_t>(got);
    }
    file_pos += n;
    return n;
}

int64_t stream_write(const void *buf, int64_t n)
{
    if (!stream || n < 0)
        return -1;
    const size_t put = fwrite(buf, 1, static_cast<size_t>(n), stream);
    if (static_cast<int64_t>(put) != n) {
        log2file(": fail write file %ld, ret = %ld, err = %s\n", (long)n, (long)put, strerror(errno));
        return static_cast<int64_t>(put);
    }
    file_pos += n;
    return n;
}

void postSpeedToGui(void)
{
    clock_gettime(CLOCK_MONOTONIC, &g_end);
    const double elapsed = (g_end.tv_sec * 1000.0 + g_end.tv_nsec / 1e6) - (g_start.tv_sec * 1000.0 + g_start.tv_nsec / 1e6);
    if (postSpeedMessageFunc)
        postSpeedMessageFunc(curr_img_filename ? curr_img_filename : "", curr_pt_name ? curr_pt_name : "", file_pos,
                             file_size, elapsed);
}

int stream_show_stat(void)
{
    int p;
    if (file_pos == file_size)
        p = 100;
    else
        p = static_cast<int>(static_cast<float>(file_pos) * 100.0f / static_cast<float>(file_size));
    if (p == percent)
        return percent;
    percent = p;
    log2file("\b\b\b\b%3d%%", percent);
    if (postProgressMessageFunc)
        postProgressMessageFunc(false, curr_img_filename ? curr_img_filename : "", curr_pt_name ? curr_pt_name : "",
                                percent, curr_file_count, curr_file_index);
    postSpeedToGui();
    return percent;
}

void stream_release(void)
{
    free_buffers();
    file_size = 0;
    file_pos = 0;
}

namespace storage_internal {
uint8_t *stream_buffer(int i)
{
    return (i >= 0 && i < g_slotCount) ? g_memory + static_cast<size_t>(i) * g_bufferSize : nullptr;
}

int stream_buffer_count()
{
    return g_slotCount;
}

size_t stream_buffer_size()
{
    return g_bufferSize;
}

void pipeline_progress(int64_t pos)
{
    file_pos = pos;
    stream_show_stat();
}

FILE *current_stream()
{
    return stream;
}

void stream_set_total(int64_t size)
{
    file_size = size;
}

int64_t stream_total()
{
    return file_size;
}

int64_t stream_position()
{
    return file_pos;
}

void stream_set_position(int64_t pos)
{
    file_pos = pos;
}
} // namespace storage_internal

int ext4_write_raw(const char *path, int64_t offset, int64_t length)
{
    if (length < 0 || offset < 0)
        return -1;
    FILE *in = stream;
    const int64_t base = file_pos;
    int64_t produced = 0;
    // A card or a USB stick reads an image faster with the doubled
    // read-ahead; a pipe says ESPIPE and is read as it is.
    if (in)
        posix_fadvise(fileno(in), ftello(in), length, POSIX_FADV_SEQUENTIAL);
    device_sink sink(path);
    sink.hold_trailing_zeros();
    const bool markZeros = sink.zeroes_runs();
    // The reader thread never touches the shared position: it only reads
    // from the stream, and progress follows what the device has accepted.
    const pipe_producer producer = [&](pipe_chunk &c) -> int {
        const int64_t n = std::min<int64_t>(length - produced, static_cast<int64_t>(c.cap));
        if (n <= 0)
            return 0;
        size_t got = 0;
        if (!markZeros) {
            got = in ? fread(c.buf, 1, static_cast<size_t>(n), in) : 0;
        } else {
            // A grain at a time, looked at for zeros while it is still in
            // the cache: one pass over memory instead of two.
            while (in && static_cast<int64_t>(got) < n) {
                const size_t want = static_cast<size_t>(std::min<int64_t>(n - static_cast<int64_t>(got), ZERO_GRAIN));
                const size_t k = fread(c.buf + got, 1, want, in);
                c.zero_grains.push_back(k == ZERO_GRAIN && is_zero(c.buf + got, ZERO_GRAIN));
                got += k;
                if (k != want)
                    break;
            }
        }
        if (static_cast<int64_t>(got) != n) {
            log2file(": fail read file %ld, ret = %ld, err = %s\n", (long)n, (long)got,
                     strerror(in && ferror(in) ? errno : EIO));
            log2file("in ext4_write_raw: stream_read failed, return ret=%d, not eq %d (BUFFER_SIZE)\n", (int)got,
                     BUFFER_SIZE);
            return -1;
        }
        c.segs.push_back({offset + produced, n, 0, static_cast<size_t>(n)});
        produced += n;
        c.progress_pos = base + produced;
        return 1;
    };
    const pipe_consumer consumer = [&](const pipe_chunk &c) -> int {
        if (sink.write_chunk(c) != 0) {
            log2file("in ext4_write_raw: mmc_write failed, return ret=%d, not eq %d (BUFFER_SIZE)\n", -1, BUFFER_SIZE);
            return -1;
        }
        pipeline_progress(c.progress_pos);
        return 0;
    };
    int rc = pipeline_run(producer, consumer);
    if (sink.finish() != 0 && rc == 0) {
        log2file("in ext4_write_raw: zeroing the end of the image failed\n");
        rc = -1;
    }
    return rc == MMC_COPY_CANCELLED || rc == -ENOMEM ? rc : (rc < 0 ? -1 : 0);
}

// Appends one chunk of a back-up to `out` at position `at`. Whole zero MiBs
// of a chunk that extends the file are left as holes (the file reads back
// the same, and the card is spared the writes); a file that already holds
// data there gets every byte written.
static int write_backup_chunk(FILE *out, off64_t at, const uint8_t *buf, int64_t n)
{
    struct stat st;
    const int fd = fileno(out);
    const bool appending = at >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= at;
    int64_t done = 0, hole = 0;
    while (done < n) {
        int64_t k = std::min<int64_t>(n - done, ZERO_GRAIN);
        if (appending && k == ZERO_GRAIN && is_zero(buf + done, static_cast<size_t>(k))) {
            hole += k;
            done += k;
            continue;
        }
        // Data up to the next zero MiB in one write.
        while (done + k < n) {
            const int64_t next = std::min<int64_t>(n - done - k, ZERO_GRAIN);
            if (appending && next == ZERO_GRAIN && is_zero(buf + done + k, ZERO_GRAIN))
                break;
            k += next;
        }
        if (hole > 0 && fseeko64(out, hole, SEEK_CUR) != 0)
            return -1;
        hole = 0;
        if (static_cast<int64_t>(fwrite(buf + done, 1, static_cast<size_t>(k), out)) != k)
            return -1;
        done += k;
    }
    if (hole > 0) {
        // A hole at the end does not grow the file by itself.
        if (fflush(out) != 0 || fseeko64(out, hole, SEEK_CUR) != 0 || ftruncate64(fd, at + n) != 0)
            return -1;
    }
    return 0;
}

int ext4_read_raw(const char *path, int64_t offset, int64_t length)
{
    if (length < 0 || offset < 0)
        return -1;
    FILE *out = stream;
    const int64_t base = file_pos;
    int64_t produced = 0;
    device_source source(path);
    const pipe_producer producer = [&](pipe_chunk &c) -> int {
        const int64_t n = std::min<int64_t>(length - produced, static_cast<int64_t>(c.cap));
        if (n <= 0)
            return 0;
        const int64_t got = mmc_fd >= 0 ? source.read(c.buf, offset + produced, n)
                                         : mmc_read(path, offset + produced, n, c.buf);
        if (got != n)
            return -1;
        c.segs.push_back({offset + produced, n, 0, static_cast<size_t>(n)});
        produced += n;
        c.progress_pos = base + produced;
        return 1;
    };
    int64_t prevStart = -1, prevEnd = -1;
    const auto store = [&](const pipe_chunk &c, int64_t n) -> int {
        const off64_t at = out ? ftello64(out) : -1;
        if (!out || write_backup_chunk(out, at, c.buf, n) != 0) {
            log2file(": fail write file %ld, ret = %ld, err = %s\n", (long)n, -1L, strerror(errno));
            return -1;
        }
        if (fflush(out) != 0)
            return -1;
        // Early write-back of the back-up file, as for device writes.
        if (at >= 0) {
            const int fd = fileno(out);
            sync_file_range(fd, at, n, SYNC_FILE_RANGE_WRITE);
            if (prevEnd > prevStart)
                sync_file_range(fd, prevStart, prevEnd - prevStart,
                                SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
            prevStart = at;
            prevEnd = at + n;
        }
        return 0;
    };
    const pipe_consumer consumer = [&](const pipe_chunk &c) -> int {
        const int64_t n = c.segs[0].length;
        // The chunk is digested on a thread of its own while it is stored:
        // both only read the slot, and a chunk's digest is done before the
        // next one starts, so the order holds. Hashing and storing one after
        // the other on this thread made it the one the copy waited for, and
        // on a board whose CPUs are shared with other work it got half of
        // one CPU for both.
        std::thread digest;
        if (g_readTap) {
            try {
                digest = std::thread([&c, n] { g_readTap(c.buf, static_cast<size_t>(n)); });
            } catch (const std::system_error &) {
                g_readTap(c.buf, static_cast<size_t>(n));
            }
        }
        const int rc = store(c, n);
        if (digest.joinable())
            digest.join();
        if (rc == 0)
            pipeline_progress(c.progress_pos);
        return rc;
    };
    const int rc = pipeline_run(producer, consumer);
    return rc == MMC_COPY_CANCELLED || rc == -ENOMEM ? rc : (rc < 0 ? -1 : 0);
}

static int copy_file(bool toDevice, const char *path, int64_t offset, FILE *fp, int64_t fileSize,
                     const char *imageName, const char *partitionName, int fileCount, int fileIndex)
{
    stream_set_current(imageName, partitionName, fileCount, fileIndex);
    int ret = stream_init(fp, fileSize);
    if (ret == 0) {
        log2file(">     ");
        ret = toDevice ? ext4_write_raw(path, offset, fileSize) : ext4_read_raw(path, offset, fileSize);
        stream_show_stat();
        // The closing speed report carries the final byte counts, so it is
        // taken before the release clears them.
        postSpeedToGui();
    }
    stream_release();
    return ret;
}

int write_raw(const char *path, int64_t offset, int64_t partitionSize, FILE *fp, int64_t fileSize,
              const char *imageName, const char *partitionName, int fileCount, int fileIndex)
{
    (void)partitionSize;
    return copy_file(true, path, offset, fp, fileSize, imageName, partitionName, fileCount, fileIndex);
}

int read_raw(const char *path, int64_t offset, int64_t partitionSize, FILE *fp, int64_t fileSize,
             const char *imageName, const char *partitionName, int fileCount, int fileIndex)
{
    (void)partitionSize;
    return copy_file(false, path, offset, fp, fileSize, imageName, partitionName, fileCount, fileIndex);
}

void mmc_reset_state_for_test(void)
{
    if (mmc_fd >= 0)
        close(mmc_fd);
    mmc_fd = -1;
    stream_release();
    stream = nullptr;
    percent = 0;
    BUFFER_SIZE = 0x4000000;
    postProgressMessageFunc = nullptr;
    postSpeedMessageFunc = nullptr;
    func_owner[0] = '\0';
    stream_set_current(nullptr, nullptr, 0, 0);
    g_cancelFlag.store(nullptr);
    g_readTap = nullptr;
    stream_set_verify(false);
    write_verify_set_test_hook(nullptr);
}
