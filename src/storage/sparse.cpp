// Android sparse images: header check, chunk validation and expansion onto
// the device through the copy pipeline.
#include "storage/copy_pipeline.h"
#include "storage/imagewriter.h"
#include "storage/input_error.h"
#include "util/log2file.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <mutex>

using namespace storage_internal;

namespace {
std::mutex g_inputErrorMutex;
std::string g_inputError;
} // namespace

namespace storage_internal {
namespace {
// Formats the cause and keeps it unless one is kept already: the first
// cause is the one that stopped the writer.
std::string keep_cause(const char *format, va_list ap)
{
    char text[512];
    vsnprintf(text, sizeof text, format, ap);
    std::lock_guard<std::mutex> lock(g_inputErrorMutex);
    if (g_inputError.empty())
        g_inputError = text;
    return text;
}
} // namespace

void image_input_failed(const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    log2file("%s\n", keep_cause(format, ap).c_str());
    va_end(ap);
}

void image_input_record(const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    keep_cause(format, ap);
    va_end(ap);
}

void image_input_clear()
{
    std::lock_guard<std::mutex> lock(g_inputErrorMutex);
    g_inputError.clear();
}
} // namespace storage_internal

const std::string &image_input_error()
{
    return g_inputError;
}

namespace {
// Largest piece of a fill pattern laid out in a buffer; longer fills write
// it repeatedly.
constexpr size_t FILL_PIECE = 4 << 20;

struct sparse_ctx
{
    const sparse_header_t &hdr;
    int64_t outLimit;      // min(total blocks x block size, partition size)
    FILE *in;
};

bool skip_bytes(FILE *in, uint32_t n)
{
    uint8_t tmp[256];
    while (n > 0) {
        const size_t k = std::min<size_t>(n, sizeof tmp);
        if (fread(tmp, 1, k, in) != k)
            return false;
        n -= static_cast<uint32_t>(k);
    }
    return true;
}

// Reads one chunk header (and skips its extra bytes) and checks it against
// the image and the partition. Returns the number of data bytes that follow
// it in the file, or -1.
int64_t read_chunk_header(const sparse_ctx &c, uint32_t index, int64_t outPos, chunk_header_t &ch)
{
    if (fread(&ch, 1, sizeof ch, c.in) != sizeof ch || !skip_bytes(c.in, c.hdr.chunk_hdr_sz - sizeof ch)) {
        image_input_failed("sparse: chunk %u: header cut short", index);
        return -1;
    }
    const int64_t len = static_cast<int64_t>(ch.chunk_sz) * c.hdr.blk_sz;
    const int64_t hsz = c.hdr.chunk_hdr_sz;
    int64_t data;
    switch (ch.chunk_type) {
    case CHUNK_TYPE_RAW:
        data = len;
        if (ch.total_sz != hsz + len) {
            image_input_failed("sparse: chunk %u: raw size %u, expected %lld", index, ch.total_sz, (long long)(hsz + len));
            return -1;
        }
        break;
    case CHUNK_TYPE_FILL:
        data = 4;
        if (ch.total_sz != hsz + 4) {
            image_input_failed("sparse: chunk %u: fill size %u", index, ch.total_sz);
            return -1;
        }
        break;
    case CHUNK_TYPE_DONT_CARE:
        data = 0;
        break;
    case CHUNK_TYPE_CRC32:
        // Header only, or header and the 4-byte checksum as the common
        // tools write it.
        if (ch.total_sz != hsz && ch.total_sz != hsz + 4) {
            image_input_failed("sparse: chunk %u: crc32 size %u", index, ch.total_sz);
            return -1;
        }
        data = ch.total_sz - hsz;
        break;
    default:
        image_input_failed("sparse: chunk %u: unknown type 0x%04x", index, ch.chunk_type);
        return -1;
    }
    if (outPos + len > c.outLimit) {
        image_input_failed("sparse: chunk %u: output 0x%llx + 0x%llx runs past the image or partition (0x%llx)",
                           index, (long long)outPos, (long long)len, (long long)c.outLimit);
        return -1;
    }
    return data;
}

// Walks every chunk header without writing, so that a corrupt or truncated
// image is refused before its first byte reaches the device. Leaves the
// stream where it was. Returns 0, -1 for a bad image, 1 when the stream
// cannot seek (the expansion then checks as it goes).
int prevalidate(const sparse_ctx &c, int64_t fileSize)
{
    const off64_t start = ftello64(c.in);
    if (start < 0)
        return 1;
    int64_t outPos = 0;
    int rc = 0;
    for (uint32_t i = 0; i < c.hdr.total_chunks; ++i) {
        chunk_header_t ch;
        const int64_t data = read_chunk_header(c, i, outPos, ch);
        if (data < 0) {
            rc = -1;
            break;
        }
        const off64_t here = ftello64(c.in);
        if (here < 0 || here + data > fileSize) {
            image_input_failed("sparse: chunk %u: data cut short (file %lld bytes)", i, (long long)fileSize);
            rc = -1;
            break;
        }
        if (fseeko64(c.in, data, SEEK_CUR) != 0) {
            rc = -1;
            break;
        }
        outPos += static_cast<int64_t>(ch.chunk_sz) * c.hdr.blk_sz;
    }
    // Blocks no chunk covers would keep whatever the device held before.
    const int64_t total = static_cast<int64_t>(c.hdr.total_blks) * c.hdr.blk_sz;
    if (rc == 0 && outPos != total) {
        image_input_failed("sparse: chunks cover %lld of %u blocks", (long long)(outPos / c.hdr.blk_sz),
                           c.hdr.total_blks);
        rc = -1;
    }
    if (fseeko64(c.in, start, SEEK_SET) != 0)
        return -1;
    return rc;
}

bool header_sizes_ok(const sparse_header_t &h)
{
    if (h.file_hdr_sz >= sizeof(sparse_header_t) && h.chunk_hdr_sz >= sizeof(chunk_header_t))
        return true;
    image_input_failed("sparse: header sizes %u/%u below the 28/12 bytes of the format", h.file_hdr_sz,
                       h.chunk_hdr_sz);
    return false;
}

// Producer state: expands chunks into pipeline buffers, carrying a raw
// chunk that does not fit over to the next buffer.
struct expander
{
    const sparse_ctx &c;
    const char *device;
    int64_t offset;            // device byte offset of the image's start
    int64_t consumed;          // file bytes read so far
    uint32_t chunk = 0;        // next chunk header to read
    int64_t outPos = 0;        // output position of the current chunk's data
    int64_t rawLeft = 0;       // data bytes of the current raw chunk not yet read

    int64_t fillLeft = 0;      // bytes of the current fill chunk not yet laid out
    uint32_t fillWord = 0;

    // Adds `n` bytes at pc.buf + used as data for the current output
    // position, continuing the previous segment where it ends right there.
    static void add_data(pipe_chunk &pc, int64_t dst, size_t used, size_t n)
    {
        if (!pc.segs.empty() && pc.segs.back().buf_length == static_cast<size_t>(pc.segs.back().length) &&
            pc.segs.back().dst_offset + pc.segs.back().length == dst &&
            pc.segs.back().buf_offset + pc.segs.back().buf_length == used) {
            pc.segs.back().length += static_cast<int64_t>(n);
            pc.segs.back().buf_length += n;
        } else {
            pc.segs.push_back({dst, static_cast<int64_t>(n), used, n});
        }
    }

    // Lays out the pending fill. One shorter than a zero run goes into the
    // buffer whole, as data, so that it is written together with the raw
    // blocks around it; a longer one is a pattern of up to FILL_PIECE bytes
    // written again and again. Returns false when it must wait for the next
    // buffer.
    bool lay_out_fill(pipe_chunk &pc, size_t &used)
    {
        const size_t room = (pc.cap - used) / 4096 * 4096;
        const int64_t want = fillLeft < ZERO_GRAIN ? fillLeft : std::min<int64_t>(fillLeft, FILL_PIECE);
        if (want > static_cast<int64_t>(room) && !pc.segs.empty())
            return false;
        const size_t pat = static_cast<size_t>(std::min<int64_t>(want, static_cast<int64_t>(room)));
        for (size_t k = 0; k < pat; k += 4)
            memcpy(pc.buf + used + k, &fillWord, 4);
        if (static_cast<int64_t>(pat) == fillLeft)
            add_data(pc, offset + outPos, used, pat);
        else
            pc.segs.push_back({offset + outPos, fillLeft, used, pat});
        used += pat;
        outPos += fillLeft;
        fillLeft = 0;
        return true;
    }

    int produce(pipe_chunk &pc)
    {
        size_t used = 0;
        while (true) {
            if (rawLeft > 0) {
                const size_t room = pc.cap - used;
                if (room == 0)
                    break;
                const size_t n = static_cast<size_t>(std::min<int64_t>(rawLeft, static_cast<int64_t>(room)));
                if (fread(pc.buf + used, 1, n, c.in) != n) {
                    image_input_failed("sparse: raw data cut short at file offset %lld", (long long)consumed);
                    return -1;
                }
                add_data(pc, offset + outPos, used, n);
                used += n;
                rawLeft -= static_cast<int64_t>(n);
                outPos += static_cast<int64_t>(n);
                consumed += static_cast<int64_t>(n);
                continue;
            }
            if (fillLeft > 0) {
                if (!lay_out_fill(pc, used))
                    break;
                continue;
            }
            if (chunk >= c.hdr.total_chunks)
                break;
            chunk_header_t ch;
            const int64_t data = read_chunk_header(c, chunk, outPos, ch);
            if (data < 0)
                return -1;
            consumed += c.hdr.chunk_hdr_sz;
            const int64_t len = static_cast<int64_t>(ch.chunk_sz) * c.hdr.blk_sz;
            ++chunk;
            if (ch.chunk_type == CHUNK_TYPE_RAW) {
                rawLeft = len;
                continue;
            }
            if (ch.chunk_type == CHUNK_TYPE_FILL) {
                if (fread(&fillWord, 1, 4, c.in) != 4) {
                    image_input_failed("sparse: fill word cut short");
                    return -1;
                }
                consumed += 4;
                fillLeft = len;
                continue;
            }
            if (data > 0 && !skip_bytes(c.in, static_cast<uint32_t>(data))) {
                image_input_failed("sparse: chunk data cut short");
                return -1;
            }
            consumed += data;
            outPos += len;
        }
        pc.progress_pos = consumed;
        return (pc.segs.empty() && chunk >= c.hdr.total_chunks && rawLeft == 0 && fillLeft == 0 && used == 0) ? 0
                                                                                                               : 1;
    }
};
} // namespace

bool sparse_header_is_sparse(const sparse_header_t &h)
{
    return h.magic == SPARSE_HEADER_MAGIC && h.major_version == 1 && h.blk_sz == SPARSE_BLOCK_SIZE;
}

int ext4_compress_write(const char *device, int64_t offset, int64_t partitionSize, const sparse_header_t *header)
{
    FILE *in = current_stream();
    if (!header || !in || offset < 0)
        return -1;
    if (!header_sizes_ok(*header))
        return -EINVAL;
    if (!skip_bytes(in, header->file_hdr_sz - sizeof(sparse_header_t)))
        return -1;
    const int64_t total = static_cast<int64_t>(header->total_blks) * header->blk_sz;
    sparse_ctx c{*header, std::min(total, partitionSize), in};
    const int64_t base = stream_position() + (header->file_hdr_sz - sizeof(sparse_header_t));
    stream_set_position(base);
    if (prevalidate(c, stream_total()) < 0)
        return -EINVAL;
    expander ex{c, device, offset, base};
    device_sink sink(device);
    const pipe_producer producer = [&](pipe_chunk &pc) { return ex.produce(pc); };
    const pipe_consumer consumer = [&](const pipe_chunk &pc) -> int {
        const int rc = sink.write_chunk(pc);
        if (rc != 0)
            return rc;
        pipeline_progress(pc.progress_pos);
        return 0;
    };
    return pipeline_run(producer, consumer);
}

int sparse_image_check(FILE *fp, int64_t fileSize, int64_t partitionSize, std::string *why)
{
    image_input_clear();
    sparse_header_t hdr;
    int ret = 0;
    if (!fp || fseeko64(fp, 0, SEEK_SET) != 0 || fread(&hdr, 1, sizeof hdr, fp) != sizeof hdr) {
        image_input_failed("image: shorter than the %zu bytes of a sparse header", sizeof hdr);
        ret = -ENOENT;
    } else if (sparse_header_is_sparse(hdr)) {
        const int64_t outSize = static_cast<int64_t>(hdr.total_blks) * hdr.blk_sz;
        if (partitionSize < outSize) {
            image_input_failed("sparse: expands to %lld bytes, more than the partition's %lld", (long long)outSize,
                               (long long)partitionSize);
            ret = -ENOMEM;
        } else if (!header_sizes_ok(hdr) || fseeko64(fp, hdr.file_hdr_sz, SEEK_SET) != 0) {
            ret = -EINVAL;
        } else {
            const sparse_ctx c{hdr, outSize, fp};
            if (prevalidate(c, fileSize) != 0)
                ret = -EINVAL;
        }
    }
    if (fp && fseeko64(fp, 0, SEEK_SET) != 0 && ret == 0)
        ret = -EIO;
    if (why)
        *why = image_input_error();
    return ret;
}

int write_image(const char *device, int64_t offset, int64_t partitionSize, FILE *fp, int64_t fileSize,
                const char *imageName, const char *partitionName, int fileCount, int fileIndex)
{
    image_input_clear();
    stream_set_current(imageName, partitionName, fileCount, fileIndex);
    int ret = stream_init(fp, fileSize);
    if (ret != 0) {
        stream_release();
        return ret;
    }
    sparse_header_t hdr;
    if (stream_read(&hdr, sizeof hdr) != static_cast<int64_t>(sizeof hdr)) {
        image_input_failed("image: shorter than the %zu bytes of a sparse header", sizeof hdr);
        stream_release();
        return -ENOENT;
    }
    log2file(">     ");
    if (!sparse_header_is_sparse(hdr)) {
        // Raw: go back over the 28 bytes so that every chunk starts at an
        // aligned device offset; without a seekable stream they are
        // written on their own first.
        if (fseeko64(fp, -static_cast<off64_t>(sizeof hdr), SEEK_CUR) == 0) {
            stream_set_position(0);
            ret = ext4_write_raw(device, offset, fileSize);
        } else {
            const int64_t n = mmc_write(device, offset, sizeof hdr, &hdr);
            if (n != static_cast<int64_t>(sizeof hdr)) {
                log2file("#### ret != sizeof(sparse_header)");
                stream_release();
                return n < 0 ? static_cast<int>(n) : -1;
            }
            write_record_add(reinterpret_cast<const uint8_t *>(&hdr), offset, sizeof hdr, sizeof hdr);
            ret = ext4_write_raw(device, offset + sizeof hdr, fileSize - static_cast<int64_t>(sizeof hdr));
        }
        if (ret != 0)
            log2file("#### fail to ext4_write_raw");
    } else {
        const int64_t outSize = static_cast<int64_t>(hdr.total_blks) * hdr.blk_sz;
        if (partitionSize < outSize) {
            log2file("\nInvalid sparse image, it is bigger than partition !\n");
            log2file("image size %lld, partion size %lld\n", (long long)outSize, (long long)partitionSize);
            stream_release();
            return -ENOMEM;
        }
        ret = ext4_compress_write(device, offset, partitionSize, &hdr);
        if (ret == 0)
            stream_set_position(fileSize);   // trailing bytes after the last chunk
    }
    stream_show_stat();
    postSpeedToGui();
    stream_release();
    return ret;
}
