// zstd images through libzstd's streaming decoder. Frames one after
// another are one image, as zstd -dc takes them; the window is limited to
// the library's default (128 MiB), as for zstd -dc without --memory.
#include "storage/codec_source.h"

#include <algorithm>
#include <cstring>
#include <zstd.h>

namespace storage_internal {

namespace {

class zstd_source : public codec_source
{
public:
    zstd_source(int fd, bool peek) : m_in(fd, peek), m_ctx(ZSTD_createDCtx()) {}
    ~zstd_source() override { ZSTD_freeDCtx(m_ctx); }

    bool valid() const { return m_in.valid() && m_ctx; }

    int64_t read(uint8_t *out, size_t cap) override
    {
        if (m_failed)
            return -1;
        ZSTD_outBuffer o = {out, cap, 0};
        while (o.pos < o.size && !m_done) {
            if (m_buf.pos == m_buf.size && !m_eof) {
                const int64_t n = m_in.fill();
                if (n < 0)
                    return fail("read error");
                m_eof = n == 0;
                m_base += static_cast<int64_t>(m_buf.size);
                m_buf = {m_in.data(), static_cast<size_t>(n), 0};
            }
            const size_t inBefore = m_buf.pos, outBefore = o.pos;
            const size_t ret = ZSTD_decompressStream(m_ctx, &o, &m_buf);
            if (ZSTD_isError(ret))
                return fail(ZSTD_getErrorName(ret));
            if (m_buf.pos != inBefore || o.pos != outBefore) {
                // libzstd reports the frame's last byte unread until the
                // frame's output is all out; never count from before the
                // call's start.
                const size_t took = m_buf.pos > inBefore ? m_buf.pos - inBefore : 0;
                const size_t keep = std::min(took, sizeof m_head - m_headLen);
                memcpy(m_head + m_headLen, static_cast<const uint8_t *>(m_buf.src) + inBefore, keep);
                m_headLen += keep;
                m_frameOut += o.pos - outBefore;
                m_frameOpen = ret != 0;
                if (!m_frameOpen && !frame_size_matches())
                    return fail("Data corruption detected");
            } else if (m_eof) {
                // The file is exhausted and nothing more comes out: it ended
                // between frames (the clean end) or inside one.
                if (m_frameOpen || consumed() == 0)
                    return fail("unexpected end of file");
                m_done = true;
            }
        }
        return static_cast<int64_t>(o.pos);
    }

    int64_t consumed() const override { return m_base + static_cast<int64_t>(m_buf.pos); }

private:
    // A frame that says how much it holds must hold exactly that. libzstd
    // checks it when it decodes a frame in one go, but in pieces (a frame
    // larger than the caller's output) it lets a frame that ends in an
    // empty last block stop short of its size: zstd -dc writes the short
    // data and exits 0. Checked here from the frame's first bytes, as they
    // were consumed; ready for the next frame either way.
    // Frames of the formats before v0.8 (their own magic numbers) are left
    // to the legacy decoders, which read their sizes differently.
    bool frame_size_matches()
    {
        bool ok = true;
        if (m_headLen >= 4 &&
            (m_head[0] | m_head[1] << 8 | m_head[2] << 16 | uint32_t(m_head[3]) << 24) == ZSTD_MAGICNUMBER) {
            const unsigned long long size = ZSTD_getFrameContentSize(m_head, m_headLen);
            ok = size == ZSTD_CONTENTSIZE_UNKNOWN || size == ZSTD_CONTENTSIZE_ERROR || size == m_frameOut;
        }
        m_headLen = 0;
        m_frameOut = 0;
        return ok;
    }

    codec_input m_in;
    ZSTD_DCtx *m_ctx;
    ZSTD_inBuffer m_buf = {nullptr, 0, 0};
    int64_t m_base = 0;   // bytes of the pieces before the one in m_buf
    bool m_eof = false, m_done = false, m_frameOpen = false;
    // The current frame's first bytes (a frame header takes at most 18)
    // and what it has put out so far.
    uint8_t m_head[18];
    size_t m_headLen = 0;
    unsigned long long m_frameOut = 0;
};

} // namespace

std::unique_ptr<codec_source> zstd_source_open(int fd, bool peek)
{
    std::unique_ptr<zstd_source> src(new zstd_source(fd, peek));
    if (!src->valid())
        return nullptr;
    return src;
}

} // namespace storage_internal
