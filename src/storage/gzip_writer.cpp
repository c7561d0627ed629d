// Compressed images (gzip, xz, zstd): decompress onto the device, into a
// file, or the first bytes into memory.
#include "storage/codec_source.h"
#include "storage/copy_pipeline.h"
#include "storage/imagewriter.h"
#include "storage/input_error.h"
#include "storage/xz_block_writer.h"
#include "util/log2file.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <unistd.h>
#include <vector>
#include <zlib.h>

using namespace storage_internal;

// Every function here reads through a duplicate of the caller's
// descriptor, from its current position, and closes only the duplicate.
static std::unique_ptr<codec_source> open_source(image_compression kind, FILE *fp, bool peek)
{
    if (!fp)
        return nullptr;
    const int fd = dup(fileno(fp));
    if (fd < 0)
        return nullptr;
    auto src = codec_source_open(kind, fd, peek);
    if (!src)
        log2file(kind == IMAGE_GZIP ? ": fail on gzdopen\n" : ": cannot set up the %s decoder\n",
                 image_compression_name(kind));
    return src;
}

static void log_decode_failure(image_compression kind, const codec_source &src)
{
    if (kind == IMAGE_GZIP)
        log2file("gzread failed: %s", src.error().c_str());
    else
        log2file("%s decoding failed: %s\n", image_compression_name(kind), src.error().c_str());
}

// Logs and keeps the cause of a failed decompression; returns -1.
static int inflate_failed(image_compression kind, const codec_source &src)
{
    log_decode_failure(kind, src);
    image_input_record("%s: %s after %lld compressed bytes", image_compression_name(kind), src.error().c_str(),
                       static_cast<long long>(src.consumed()));
    return -1;
}

int write_raw_gz(const char *device, int64_t offset, int64_t partitionSize, FILE *fp, int64_t fileSize,
                 const char *imageName, const char *partitionName, int fileCount, int fileIndex)
{
    return write_raw_compressed(IMAGE_GZIP, device, offset, partitionSize, fp, fileSize, imageName, partitionName,
                                fileCount, fileIndex);
}

static void log_too_big(int64_t partitionSize)
{
    log2file("\ninflated image runs past the end of the partition (%lld bytes)\n", static_cast<long long>(partitionSize));
}

// The size is in the index: an image too big for the partition is refused
// before anything is written.
static int write_xz_blocks(xz_block_writer &blocks, const char *device, int64_t offset, int64_t partitionSize,
                           int64_t fileSize)
{
    log2file(">     ");
    if (partitionSize > 0 && blocks.uncompressed_size() > partitionSize) {
        log_too_big(partitionSize);
        return -EFBIG;
    }
    device_sink sink(device);
    int ret = blocks.run(sink, offset, [fileSize](int64_t done) { pipeline_progress(std::min(done, fileSize - 1)); });
    if (ret == 0) {
        pipeline_progress(fileSize);
    } else if (ret == -1 && !blocks.error().empty()) {
        log2file("xz decoding failed: %s\n", blocks.error().c_str());
        image_input_record("xz: %s after %lld compressed bytes", blocks.error().c_str(),
                           static_cast<long long>(blocks.failed_at()));
    } else if (ret != MMC_COPY_CANCELLED) {
        ret = -1;
    }
    return ret;
}

int write_raw_compressed(image_compression kind, const char *device, int64_t offset, int64_t partitionSize,
                         FILE *fp, int64_t fileSize, const char *imageName, const char *partitionName,
                         int fileCount, int fileIndex)
{
    stream_set_current(imageName, partitionName, fileCount, fileIndex);
    image_input_clear();
    if (stream_init(fp, fileSize) != 0) {
        log2file(": out of memory");
        stream_release();
        return -1;
    }
    // A multi-block xz file goes block by block, out of order.
    if (kind == IMAGE_XZ) {
        const int fd = fileno(fp);
        std::unique_ptr<xz_block_writer> blocks = xz_block_writer::open(fd, lseek(fd, 0, SEEK_CUR), fileSize);
        if (blocks) {
            const int ret = write_xz_blocks(*blocks, device, offset, partitionSize, fileSize);
            stream_release();
            return ret;
        }
    }
    std::unique_ptr<codec_source> src = open_source(kind, fp, false);
    if (!src) {
        stream_release();
        return -1;
    }
    log2file(">     ");
    int64_t out = offset;
    // The inflated size is known only at the end of the stream: refuse the
    // piece that would run past the partition instead of writing it.
    const int64_t limit = partitionSize > 0 ? offset + partitionSize : INT64_MAX;
    bool tooBig = false;
    // Progress is the share of compressed input consumed, as the image's
    // size on the card is the only total known in advance.
    // Inflated pieces of at most 16 MiB: inflating a whole 64 MiB buffer
    // before the first write (and writing the last one after the inflater
    // is done) left the device idle for a measurable share of the run.
    const size_t piece = size_t(16) << 20;
    device_sink sink(device);
    const bool markZeros = sink.zeroes_runs();
    const pipe_producer producer = [&](pipe_chunk &c) -> int {
        // Whole pieces: a chunk that ends at an odd byte would leave the
        // next one's device offset unaligned, and so out of direct I/O.
        const size_t want = std::min(c.cap, piece);
        int64_t n = 0;
        // A grain at a time: the zero check reads output that is still in
        // the cache instead of the whole piece again from memory.
        while (static_cast<size_t>(n) < want) {
            const int64_t grainEnd = std::min<int64_t>(static_cast<int64_t>(want), (n / ZERO_GRAIN + 1) * ZERO_GRAIN);
            const int64_t k = src->read(c.buf + n, static_cast<size_t>(grainEnd - n));
            if (k < 0)
                return inflate_failed(kind, *src);
            if (k == 0)
                break;
            n += k;
            if (markZeros && n % ZERO_GRAIN == 0)
                c.zero_grains.push_back(is_zero(c.buf + n - ZERO_GRAIN, ZERO_GRAIN));
        }
        if (n == 0)
            return 0;
        if (n > limit - out) {
            log_too_big(partitionSize);
            tooBig = true;
            return -1;
        }
        c.segs.push_back({out, n, 0, static_cast<size_t>(n)});
        out += n;
        // The inflater reads its input ahead: all of it may be consumed
        // before the trailer is checked, so 100 % waits for the end.
        c.progress_pos = std::min<int64_t>(src->consumed(), fileSize - 1);
        return 1;
    };
    const pipe_consumer consumer = [&](const pipe_chunk &c) -> int {
        if (sink.write_chunk(c) != 0)
            return -1;
        pipeline_progress(c.progress_pos);
        return 0;
    };
    int ret = pipeline_run(producer, consumer, true);
    if (ret == 0)
        pipeline_progress(fileSize);
    else if (tooBig)
        ret = -EFBIG;
    else if (ret != MMC_COPY_CANCELLED)
        ret = -1;
    stream_release();
    return ret;
}

int decompress_gz(FILE *out, FILE *in, int64_t inSize)
{
    return decompress_image(IMAGE_GZIP, out, in, inSize);
}

int decompress_image(image_compression kind, FILE *out, FILE *in, int64_t inSize)
{
    // Not zeroed: only what the inflater produced is written.
    std::unique_ptr<uint8_t[]> buf(new (std::nothrow) uint8_t[GZIP_PIECE_SIZE]);
    if (!buf) {
        log2file(": out of memory\n");
        return -2;
    }
    image_input_clear();
    std::unique_ptr<codec_source> src = open_source(kind, in, false);
    if (!src || !out)
        return -1;
    log2file(">     ");
    int shown = -1;
    while (true) {
        const int64_t n = src->read(buf.get(), GZIP_PIECE_SIZE);
        if (n < 0)
            return inflate_failed(kind, *src);
        if (n == 0)
            break;
        if (fwrite(buf.get(), 1, static_cast<size_t>(n), out) != static_cast<size_t>(n)) {
            log2file("\nfwrite(uncompr) failed\n");
            return -3;
        }
        const int p = inSize > 0 ? static_cast<int>(static_cast<float>(src->consumed()) * 100.0f /
                                                    static_cast<float>(inSize))
                                 : 100;
        if (p != shown) {
            shown = p;
            log2file("\b\b\b\b%3d%%", p);
            fflush(stdout);
        }
    }
    if (fflush(out) != 0) {
        log2file("\nfwrite(uncompr) failed\n");
        return -3;
    }
    return 0;
}

int gzip_read(FILE *fp, void *buffer, int length)
{
    return compressed_read(IMAGE_GZIP, fp, buffer, length);
}

int compressed_read(image_compression kind, FILE *fp, void *buffer, int length)
{
    if (!buffer || length < 0)
        return -1;
    image_input_clear();
    std::vector<uint8_t> work;
    try {
        work.assign(std::min<size_t>(GZIP_PIECE_SIZE, static_cast<size_t>(length)), 0);
    } catch (const std::bad_alloc &) {
        log2file(": out of memory\n");
        return -ENOENT;
    }
    // The peek readers (zlib for gzip, one thread for xz) stop without
    // decompressing the rest of a large image.
    // The duplicate shares the caller's file position: put it back after the
    // peek, so the caller can go on to write the whole image.
    const off64_t pos = fp ? lseek64(fileno(fp), 0, SEEK_CUR) : -1;
    std::unique_ptr<codec_source> src = open_source(kind, fp, true);
    if (!src)
        return -1;
    struct restore_pos
    {
        int fd;
        off64_t pos;
        ~restore_pos()
        {
            if (pos >= 0 && lseek64(fd, pos, SEEK_SET) < 0)
                log2file("gzip_read: cannot restore position, errno=%d\n", errno);
        }
    } restore{fileno(fp), pos};
    uint8_t *dst = static_cast<uint8_t *>(buffer);
    int have = 0;
    while (have < length) {
        const int64_t n = src->read(work.data(), std::min<size_t>(work.size(), static_cast<size_t>(length - have)));
        if (n < 0) {
            log_decode_failure(kind, *src);
            image_input_record("%s: %s", image_compression_name(kind), src->error().c_str());
            return -1;
        }
        if (n == 0)
            break;
        memcpy(dst + have, work.data(), static_cast<size_t>(n));
        have += static_cast<int>(n);
    }
    // A complete stream shorter than asked: the rest reads as zeros.
    if (have < length)
        memset(dst + have, 0, static_cast<size_t>(length - have));
    return 0;
}
