#include "storage/xz_block_writer.h"
#include "storage/copy_pipeline.h"
#include "storage/mmc.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <lzma.h>
#include <mutex>
#include <new>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace storage_internal {

const char *xz_message(int lzmaResult)
{
    switch (static_cast<lzma_ret>(lzmaResult)) {
    case LZMA_FORMAT_ERROR:
        return "file format not recognized";
    case LZMA_DATA_ERROR:
        return "compressed data is corrupt";
    case LZMA_BUF_ERROR:
        return "unexpected end of input";
    case LZMA_MEM_ERROR:
        return "out of memory";
    case LZMA_MEMLIMIT_ERROR:
        return "memory usage limit reached";
    case LZMA_OPTIONS_ERROR:
        return "unsupported options";
    default:
        return "internal error";
    }
}

void xz_memory_limits(uint64_t *stop, uint64_t *threading)
{
    const uint64_t phys = lzma_physmem();
    // A file that needs more than half the memory even on one thread would
    // push the board into the OOM killer: refuse it instead.
    *stop = phys > 0 ? std::max<uint64_t>(phys / 2, uint64_t(128) << 20) : UINT64_MAX;
    // The copy slots already take BUFFER_SIZE: decoder threads may use a few
    // times that, never more than a quarter of the memory.
    *threading = uint64_t(4) * static_cast<uint64_t>(BUFFER_SIZE);
    if (phys > 0)
        *threading = std::min(*threading, phys / 4);
}

namespace {

// Compressed input is read in pieces of this size per thread.
constexpr int64_t INPUT_PIECE = 1 << 20;
// Decoded data is placed in a slot at the offset the device wants it at
// modulo this, so that direct writes take it even after a block of odd size.
constexpr int64_t PLACE_ALIGN = 4096;
// A slot goes to an idle device once it holds this much.
constexpr int64_t EARLY_PIECE = 4 << 20;
// A block compressed to less than this share of its size is cheap.
constexpr int64_t CHEAP_RATIO = 16;

struct block_info
{
    int64_t comp;    // compressed offset in the image
    int64_t total;   // compressed bytes: header, data, padding, check
    int64_t unpadded;
    int64_t uoff;    // offset in the expanded image
    int64_t usize;
    lzma_check check;
};

// A slot of decoded data ready for the device.
struct ready_piece
{
    int slot;
    size_t skip;     // bytes before the data in the slot
    int64_t dst;     // offset in the expanded image
    int64_t len;
    int64_t credit;  // compressed bytes it completes
};

int64_t pread_all(int fd, uint8_t *dst, int64_t len, int64_t off)
{
    const int64_t got = pread_full(fd, dst, off, len);
    return got == len ? 0 : -1;
}

constexpr int HEADER_READ_ERROR = -1;

// Reads the block header at `at` and decodes it into `block`, whose
// version, check and filter array the caller set; the filters it decoded
// are the caller's to free when it returns LZMA_OK. A header that starts
// with a zero byte (an index where a block was promised) or runs past
// `room` bytes is LZMA_DATA_ERROR; a failed read HEADER_READ_ERROR.
int read_block_header(int fd, int64_t at, int64_t room, lzma_block &block)
{
    uint8_t header[LZMA_BLOCK_HEADER_SIZE_MAX];
    if (pread_all(fd, header, 1, at) != 0)
        return HEADER_READ_ERROR;
    block.header_size = lzma_block_header_size_decode(header[0]);
    if (header[0] == 0 || block.header_size > static_cast<uint64_t>(room))
        return LZMA_DATA_ERROR;
    if (pread_all(fd, header, block.header_size, at) != 0)
        return HEADER_READ_ERROR;
    return lzma_block_header_decode(&block, nullptr, header);
}

} // namespace

struct xz_block_writer::state
{
    int fd = -1;
    int64_t base = 0, size = 0;
    std::vector<block_info> blocks;
    unsigned workers = 0;
    uint64_t memStop = UINT64_MAX;

    std::mutex mu;
    std::condition_variable cv;
    bool stop = false;
    bool writerWaiting = false;
    // Blocks by compressed size, largest first: taken from the front, and
    // cheap ones by the feeding thread from the back.
    std::vector<size_t> order;
    size_t front = 0, back = 0;
    unsigned active = 0;
    std::vector<int> freeSlots;
    std::vector<ready_piece> ready;
    std::string error;
    int64_t failedAt = -1;

    ~state()
    {
        if (fd >= 0)
            close(fd);
    }

    void fail(const char *why, int64_t at)
    {
        std::lock_guard<std::mutex> lk(mu);
        if (error.empty()) {
            error = why;
            failedAt = at;
        }
        stop = true;
        cv.notify_all();
    }

    int take_slot()
    {
        std::unique_lock<std::mutex> lk(mu);
        cv.wait(lk, [&] { return stop || !freeSlots.empty(); });
        if (stop)
            return -1;
        const int s = freeSlots.back();
        freeSlots.pop_back();
        return s;
    }

    bool writer_idle()
    {
        std::lock_guard<std::mutex> lk(mu);
        return writerWaiting && ready.empty();
    }

    void hand_over(const ready_piece &p)
    {
        std::lock_guard<std::mutex> lk(mu);
        ready.push_back(p);
        cv.notify_all();
    }

    bool decode(const block_info &b, uint8_t *in, int64_t dstBase, lzma_stream &strm);
    void worker(int64_t dstBase, bool feeder);
};

// Decodes block b into slots and hands them over; false on a damaged block
// or a read error (recorded), or when told to stop.
bool xz_block_writer::state::decode(const block_info &b, uint8_t *in, int64_t dstBase, lzma_stream &strm)
{
    const int64_t at = base + b.comp;
    lzma_filter filters[LZMA_FILTERS_MAX + 1];
    lzma_block block;
    memset(&block, 0, sizeof block);
    block.version = 1;
    block.check = b.check;
    block.filters = filters;
    const int h = read_block_header(fd, at, b.total, block);
    if (h != LZMA_OK) {
        fail(h == HEADER_READ_ERROR ? "read error" : xz_message(h), b.comp);
        return false;
    }
    const uint64_t mem = lzma_raw_decoder_memusage(filters);
    lzma_ret r = lzma_block_compressed_size(&block, static_cast<lzma_vli>(b.unpadded));
    if (r == LZMA_OK && block.uncompressed_size != LZMA_VLI_UNKNOWN &&
        block.uncompressed_size != static_cast<lzma_vli>(b.usize))
        r = LZMA_DATA_ERROR;
    block.uncompressed_size = static_cast<lzma_vli>(b.usize);
    if (r == LZMA_OK && mem > memStop)
        r = LZMA_MEMLIMIT_ERROR;
    // The thread's decoder is set up again for each block: it keeps its
    // dictionary memory when the size is the same, instead of taking fresh
    // pages from the kernel for every block.
    if (r == LZMA_OK)
        r = lzma_block_decoder(&strm, &block);
    lzma_filters_free(filters, nullptr);
    if (r != LZMA_OK) {
        fail(xz_message(r), b.comp);
        return false;
    }
    int64_t inPos = at + block.header_size;
    const int64_t inEnd = at + b.total;
    // The kernel reads the block ahead while the first piece is decoded.
    posix_fadvise(fd, inPos, inEnd - inPos, POSIX_FADV_WILLNEED);
    int64_t pos = 0, credited = 0;
    int slot = -1;
    size_t skip = 0, carry = 0;
    uint8_t carried[PLACE_ALIGN];
    bool ok = false;
    for (;;) {
        if (slot < 0) {
            slot = take_slot();
            if (slot < 0)
                break;
            skip = static_cast<size_t>((dstBase + b.uoff + pos) % PLACE_ALIGN);
            memcpy(stream_buffer(slot) + skip, carried, carry);
            strm.next_out = stream_buffer(slot) + skip + carry;
            strm.avail_out = stream_buffer_size() - skip - carry;
            carry = 0;
        }
        if (strm.avail_in == 0 && inPos < inEnd) {
            const int64_t n = std::min(INPUT_PIECE, inEnd - inPos);
            if (pread_all(fd, in, n, inPos) != 0) {
                fail("read error", inPos - base);
                break;
            }
            inPos += n;
            strm.next_in = in;
            strm.avail_in = static_cast<size_t>(n);
        }
        r = lzma_code(&strm, inPos == inEnd ? LZMA_FINISH : LZMA_RUN);
        if (r != LZMA_OK && r != LZMA_STREAM_END) {
            fail(xz_message(r), b.comp + static_cast<int64_t>(block.header_size + strm.total_in));
            break;
        }
        // The block decoder stops at the block's end: input left over means
        // the index and the block disagree.
        if (r == LZMA_STREAM_END && (strm.avail_in != 0 || inPos != inEnd)) {
            fail(xz_message(LZMA_DATA_ERROR), b.comp + static_cast<int64_t>(block.header_size + strm.total_in));
            break;
        }
        const int64_t filled = static_cast<int64_t>(stream_buffer_size() - skip - strm.avail_out);
        int64_t len = filled;
        if (strm.avail_out > 0 && r != LZMA_STREAM_END) {
            // A slot not yet full goes to a device that has nothing else to
            // write, cut where the device's blocks are; the bytes after
            // the cut start the next slot.
            if (filled < EARLY_PIECE || !writer_idle())
                continue;
            len = filled - (dstBase + b.uoff + pos + filled) % PLACE_ALIGN;
            carry = static_cast<size_t>(filled - len);
            memcpy(carried, stream_buffer(slot) + skip + len, carry);
        }
        const int64_t credit =
            (r == LZMA_STREAM_END ? b.total : static_cast<int64_t>(block.header_size + strm.total_in)) - credited;
        hand_over({slot, skip, b.uoff + pos, len, credit});
        credited += credit;
        pos += len;
        slot = -1;
        if (r == LZMA_STREAM_END) {
            ok = true;
            break;
        }
    }
    if (slot >= 0) {
        std::lock_guard<std::mutex> lk(mu);
        freeSlots.push_back(slot);
    }
    return ok;
}

// The threads take the costliest blocks first, so that the last to finish
// is short. The feeding thread first takes the blocks that cost next to
// nothing (empty areas decode at memory speed), so that the device has
// something to write while the costly ones are decoded, instead of waiting
// for them at the start and being the bottleneck once only cheap ones are
// left; then it joins the others.
void xz_block_writer::state::worker(int64_t dstBase, bool feeder)
{
    std::unique_ptr<uint8_t[]> in(new (std::nothrow) uint8_t[INPUT_PIECE]);
    if (!in)
        fail(xz_message(LZMA_MEM_ERROR), 0);
    lzma_stream strm = LZMA_STREAM_INIT;
    for (;;) {
        size_t k;
        {
            std::lock_guard<std::mutex> lk(mu);
            if (stop || !in || front == back)
                break;
            const block_info &cheapest = blocks[order[back - 1]];
            k = feeder && cheapest.total * CHEAP_RATIO < cheapest.usize ? order[--back] : order[front++];
        }
        if (!decode(blocks[k], in.get(), dstBase, strm))
            break;
    }
    lzma_end(&strm);
    std::lock_guard<std::mutex> lk(mu);
    --active;
    cv.notify_all();
}

xz_block_writer::xz_block_writer(std::unique_ptr<state> s) : m_s(std::move(s)) {}
xz_block_writer::~xz_block_writer() = default;

std::unique_ptr<xz_block_writer> xz_block_writer::open(int fd, int64_t base, int64_t size)
{
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || base < 0 || size <= 0 || base + size > st.st_size)
        return nullptr;
    uint64_t memThreading = 0;
    std::unique_ptr<state> s(new state);
    xz_memory_limits(&s->memStop, &memThreading);
    // A decoding thread per core and the feeding one; each holds a slot
    // while one more is written.
    const unsigned threads = std::min<unsigned>(std::max<uint32_t>(1, lzma_cputhreads()) + 1,
                                                static_cast<unsigned>(std::max(0, stream_buffer_count() - 1)));
    if (threads < 2)
        return nullptr;
    s->fd = dup(fd);
    if (s->fd < 0)
        return nullptr;

    // The index, the stream footers and headers: read from the end.
    lzma_stream strm = LZMA_STREAM_INIT;
    lzma_index *index = nullptr;
    if (lzma_file_info_decoder(&strm, &index, s->memStop, static_cast<uint64_t>(size)) != LZMA_OK)
        return nullptr;
    std::vector<uint8_t> buf(64 * 1024);
    int64_t pos = 0;
    lzma_ret r = LZMA_OK;
    while (r == LZMA_OK || r == LZMA_SEEK_NEEDED) {
        if (r == LZMA_SEEK_NEEDED) {
            pos = static_cast<int64_t>(strm.seek_pos);
            strm.avail_in = 0;
        }
        if (strm.avail_in == 0) {
            const int64_t n = std::min<int64_t>(static_cast<int64_t>(buf.size()), size - pos);
            if (n < 0 || pread_all(s->fd, buf.data(), n, base + pos) != 0)
                break;
            pos += n;
            strm.next_in = buf.data();
            strm.avail_in = static_cast<size_t>(n);
        }
        r = lzma_code(&strm, pos == size ? LZMA_FINISH : LZMA_RUN);
    }
    lzma_end(&strm);
    if (r != LZMA_STREAM_END) {
        lzma_index_end(index, nullptr);
        return nullptr;
    }
    lzma_index_iter it;
    lzma_index_iter_init(&it, index);
    bool known = true;
    while (known && !lzma_index_iter_next(&it, LZMA_INDEX_ITER_BLOCK)) {
        known = it.stream.flags != nullptr;
        if (known)
            s->blocks.push_back({static_cast<int64_t>(it.block.compressed_file_offset),
                                 static_cast<int64_t>(it.block.total_size),
                                 static_cast<int64_t>(it.block.unpadded_size),
                                 static_cast<int64_t>(it.block.uncompressed_file_offset),
                                 static_cast<int64_t>(it.block.uncompressed_size), it.stream.flags->check});
    }
    lzma_index_end(index, nullptr);
    if (!known || s->blocks.size() < 2)
        return nullptr;
    // As many threads as the memory for their dictionaries allows (the
    // first block's filters stand for all).
    lzma_filter filters[LZMA_FILTERS_MAX + 1];
    lzma_block block;
    memset(&block, 0, sizeof block);
    block.filters = filters;
    if (read_block_header(s->fd, base + s->blocks[0].comp, INT64_MAX, block) != LZMA_OK)
        return nullptr;
    const uint64_t each = lzma_raw_decoder_memusage(filters) + INPUT_PIECE;
    lzma_filters_free(filters, nullptr);
    s->workers = static_cast<unsigned>(std::min<uint64_t>(threads, memThreading / std::max<uint64_t>(each, 1)));
    if (s->workers < 2)
        return nullptr;
    s->base = base;
    s->size = size;
    for (size_t i = 0; i < s->blocks.size(); ++i)
        s->order.push_back(i);
    std::stable_sort(s->order.begin(), s->order.end(),
                     [&](size_t a, size_t b) { return s->blocks[a].total > s->blocks[b].total; });
    return std::unique_ptr<xz_block_writer>(new xz_block_writer(std::move(s)));
}

int64_t xz_block_writer::uncompressed_size() const
{
    const block_info &last = m_s->blocks.back();
    return last.uoff + last.usize;
}

const std::string &xz_block_writer::error() const
{
    return m_s->error;
}

int64_t xz_block_writer::failed_at() const
{
    return m_s->failedAt;
}

int xz_block_writer::run(device_sink &sink, int64_t dst, const std::function<void(int64_t)> &progress)
{
    state &s = *m_s;
    s.freeSlots.clear();
    for (int i = stream_buffer_count() - 1; i >= 0; --i)
        s.freeSlots.push_back(i);
    s.active = s.workers;
    s.front = 0;
    s.back = s.order.size();
    std::vector<std::thread> threads;
    for (unsigned i = 0; i < s.workers; ++i)
        threads.emplace_back([&s, dst, i] { s.worker(dst, i == 0); });

    int result = 0;
    int64_t doneIn = 0;
    for (;;) {
        ready_piece p;
        {
            std::unique_lock<std::mutex> lk(s.mu);
            s.writerWaiting = true;
            s.cv.wait(lk, [&] { return s.stop || !s.ready.empty() || s.active == 0; });
            s.writerWaiting = false;
            if (!s.error.empty()) {
                result = -1;
                break;
            }
            if (s.ready.empty())
                break;
            // The lowest offset first: the device sees runs as long as the
            // threads allow.
            auto it = std::min_element(s.ready.begin(), s.ready.end(),
                                       [](const ready_piece &a, const ready_piece &b) { return a.dst < b.dst; });
            p = *it;
            s.ready.erase(it);
        }
        if (stream_cancel_requested()) {
            result = MMC_COPY_CANCELLED;
            break;
        }
        if (p.len > 0) {
            pipe_chunk c;
            c.buf = stream_buffer(p.slot);
            c.cap = stream_buffer_size();
            c.segs.push_back({dst + p.dst, p.len, p.skip, static_cast<size_t>(p.len)});
            write_record_chunk(c);
            const int rc = sink.write_chunk(c);
            if (rc < 0) {
                result = rc;
                break;
            }
        }
        doneIn += p.credit;
        progress(doneIn);
        std::lock_guard<std::mutex> lk(s.mu);
        s.freeSlots.push_back(p.slot);
        s.cv.notify_all();
    }
    {
        std::lock_guard<std::mutex> lk(s.mu);
        s.stop = true;
        s.cv.notify_all();
    }
    for (std::thread &t : threads)
        t.join();
    if (result == 0 && !s.error.empty())
        result = -1;
    // Where reading the whole file would have left the caller's descriptor.
    if (result == 0)
        lseek(s.fd, s.base + s.size, SEEK_SET);
    return result;
}

} // namespace storage_internal
