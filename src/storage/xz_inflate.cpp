// xz images through liblzma's multi-threaded decoder, in order: the blocks
// of a multi-block file (xz -T) are decoded on several cores at once; a file
// of one block goes through a single thread as with the plain decoder. Onto
// the device, a multi-block file goes through xz_block_writer.h instead.
#include "storage/codec_source.h"
#include "storage/mmc.h"
#include "storage/xz_block_writer.h"

#include <algorithm>
#include <cstring>
#include <lzma.h>

namespace storage_internal {

namespace {

class xz_source : public codec_source
{
public:
    xz_source(int fd, bool peek) : m_in(fd, peek) {}
    ~xz_source() override { lzma_end(&m_strm); }

    bool init(bool peek)
    {
        if (!m_in.valid())
            return false;
        uint64_t stop = 0, threading = 0;
        xz_memory_limits(&stop, &threading);
        // The peek wants the first bytes only: the plain decoder stops there,
        // where a decoder thread would expand its whole first block.
        if (peek)
            return lzma_stream_decoder(&m_strm, stop, LZMA_CONCATENATED) == LZMA_OK;
        lzma_mt mt;
        memset(&mt, 0, sizeof mt);
        // Several streams one after another are one image, as xz -dc takes
        // them. No LZMA_FAIL_FAST: with it a file cut short reads as corrupt
        // data rather than as the end of input it is.
        mt.flags = LZMA_CONCATENATED;
        mt.threads = std::max<uint32_t>(1, lzma_cputhreads());
        // Each decoder thread holds a whole block and its dictionary; beyond
        // the limit the decoder runs fewer threads, down to one.
        mt.memlimit_threading = threading;
        mt.memlimit_stop = stop;
        return lzma_stream_decoder_mt(&m_strm, &mt) == LZMA_OK;
    }

    int64_t read(uint8_t *out, size_t cap) override
    {
        if (m_failed)
            return -1;
        m_strm.next_out = out;
        m_strm.avail_out = cap;
        while (m_strm.avail_out > 0 && !m_done) {
            if (m_strm.avail_in == 0 && !m_eof) {
                const int64_t n = m_in.fill();
                if (n < 0)
                    return fail("read error");
                m_eof = n == 0;
                m_strm.next_in = m_in.data();
                m_strm.avail_in = static_cast<size_t>(n);
            }
            // LZMA_FINISH once the file is exhausted: a stream cut short then
            // ends in LZMA_BUF_ERROR instead of waiting for more input.
            const lzma_ret r = lzma_code(&m_strm, m_eof ? LZMA_FINISH : LZMA_RUN);
            if (r == LZMA_STREAM_END)
                m_done = true;
            else if (r != LZMA_OK)
                return fail(xz_message(r));
        }
        return static_cast<int64_t>(cap - m_strm.avail_out);
    }

    int64_t consumed() const override { return static_cast<int64_t>(m_strm.total_in); }

private:
    codec_input m_in;
    lzma_stream m_strm = LZMA_STREAM_INIT;
    bool m_eof = false, m_done = false;
};

} // namespace

std::unique_ptr<codec_source> xz_source_open(int fd, bool peek)
{
    std::unique_ptr<xz_source> src(new xz_source(fd, peek));
    if (!src->init(peek))
        return nullptr;
    return src;
}

} // namespace storage_internal
