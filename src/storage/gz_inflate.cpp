#include "storage/gz_inflate.h"
#include "util/log2file.h"

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

#ifdef IMGSMITH_HAVE_ISAL
#include <isa-l/igzip_lib.h>
#endif

namespace storage_internal {

namespace {

#ifdef IMGSMITH_HAVE_ISAL
class isal_source : public gz_source
{
public:
    explicit isal_source(int fd) : m_in(fd, false), m_state(new inflate_state)
    {
        isal_inflate_init(m_state.get());
        m_state->crc_flag = ISAL_GZIP;
    }
    bool valid() const { return m_in.valid(); }

    int64_t read(uint8_t *out, size_t cap) override
    {
        if (m_failed)
            return -1;
        inflate_state &st = *m_state;
        size_t produced = 0;
        while (produced < cap && !m_done) {
            if (st.avail_in == 0 && !m_eof && top_up() < 0)
                return fail("read error");
            // ISA-L takes a header with reserved flag bits set, which the
            // format (and zlib, gzip) refuse: every member's first four
            // bytes are checked here.
            if (m_memberStart) {
                while (st.avail_in < 4 && !m_eof)
                    if (top_up() < 0)
                        return fail("read error");
                if (st.avail_in < 4 || st.next_in[0] != 0x1f || st.next_in[1] != 0x8b || st.next_in[2] != 8)
                    return fail("not in gzip format");
                if (st.next_in[3] & 0xE0)
                    return fail("unknown header flags set");
                m_memberStart = false;
            }
            if (st.block_state == ISAL_BLOCK_FINISH) {
                // One member ended (its CRC and length were checked); go on
                // with the next one, or stop at the end of the input.
                if (st.avail_in == 0 && m_eof) {
                    m_done = true;
                    break;
                }
                if (st.avail_in == 0)
                    continue;
                if (st.avail_in >= 1 && st.next_in[0] != 0x1f) {
                    log2file("gzip: %u bytes of trailing garbage ignored\n", st.avail_in);
                    m_done = true;
                    break;
                }
                const uint8_t *next = st.next_in;
                const uint32_t avail = st.avail_in;
                isal_inflate_reset(&st);
                st.crc_flag = ISAL_GZIP;
                st.next_in = const_cast<uint8_t *>(next);
                st.avail_in = avail;
                m_members++;
                m_memberStart = true;
                continue;
            }
            st.next_out = out + produced;
            // At most 256 KiB per call: the checksum ISA-L takes over each
            // call's output then reads it from the cache.
            st.avail_out = static_cast<uint32_t>(std::min<size_t>(cap - produced, size_t(256) << 10));
            const uint32_t before = st.avail_out;
            const uint32_t inBefore = st.avail_in;
            const int ret = isal_inflate(&st);
            if (ret < 0)
                return fail(ret == ISAL_INCORRECT_CHECKSUM ? "incorrect data check" : "invalid compressed data");
            if (ret == ISAL_NEED_DICT)
                return fail("dictionary needed");
            produced += before - st.avail_out;
            // No progress with no more input to give: the stream was cut
            // before the end of its member.
            if (before == st.avail_out && inBefore == st.avail_in && st.block_state != ISAL_BLOCK_FINISH &&
                (m_eof || st.avail_in > 0))
                return fail("unexpected end of file");
            m_consumedBase += inBefore - st.avail_in;
        }
        return static_cast<int64_t>(produced);
    }

    int64_t consumed() const override { return m_consumedBase; }

private:
    // ISA-L takes one piece at a time and keeps nothing of it: only the
    // check of a member's first bytes can want bytes of two pieces, and
    // then the rest of the one before is copied out ahead of the next.
    int top_up()
    {
        std::vector<uint8_t> rest;
        if (m_state->avail_in > 0)
            rest.assign(m_state->next_in, m_state->next_in + m_state->avail_in);
        const int64_t n = m_in.fill();
        if (n < 0)
            return -1;
        if (n == 0)
            m_eof = true;
        if (rest.empty()) {
            m_state->next_in = const_cast<uint8_t *>(m_in.data());
            m_state->avail_in = static_cast<uint32_t>(n);
        } else {
            rest.insert(rest.end(), m_in.data(), m_in.data() + n);
            m_joined.swap(rest);
            m_state->next_in = m_joined.data();
            m_state->avail_in = static_cast<uint32_t>(m_joined.size());
        }
        return 0;
    }

    codec_input m_in;
    std::vector<uint8_t> m_joined;
    std::unique_ptr<inflate_state> m_state;
    bool m_eof = false, m_done = false, m_memberStart = true;
    int m_members = 1;
    int64_t m_consumedBase = 0;
};
#endif

class zlib_source : public gz_source
{
public:
    zlib_source(gzFile gz, unsigned bufferSize) : m_gz(gz) { gzbuffer(m_gz, bufferSize); }
    ~zlib_source() override { gzclose(m_gz); }

    int64_t read(uint8_t *out, size_t cap) override
    {
        size_t produced = 0;
        while (produced < cap) {
            const unsigned ask = static_cast<unsigned>(std::min<size_t>(cap - produced, 1u << 30));
            const int n = gzread(m_gz, out + produced, ask);
            if (n < 0 || gzdirect(m_gz))
                return fail(n < 0);
            if (n == 0) {
                // End of input: zlib reports a stream cut before its trailer
                // only through its error state.
                int err = Z_OK;
                gzerror(m_gz, &err);
                if (err != Z_OK)
                    return fail(true);
                break;
            }
            produced += static_cast<size_t>(n);
        }
        return static_cast<int64_t>(produced);
    }

    int64_t consumed() const override { return gzoffset64(m_gz); }

private:
    int64_t fail(bool zlibError)
    {
        if (zlibError) {
            int err = Z_OK;
            const char *msg = gzerror(m_gz, &err);
            m_error = msg && *msg ? msg : "gzip stream error";
        } else {
            m_error = "not in gzip format";
        }
        return -1;
    }
    gzFile m_gz;
};

} // namespace

std::unique_ptr<gz_source> gz_source::open(int fd)
{
    if (fd < 0)
        return nullptr;
#ifdef IMGSMITH_HAVE_ISAL
    std::unique_ptr<isal_source> src(new isal_source(fd));
    if (!src->valid())
        return nullptr;
    return src;
#else
    gzFile gz = gzdopen(fd, "rb");
    if (!gz) {
        close(fd);
        return nullptr;
    }
    return std::unique_ptr<gz_source>(new zlib_source(gz, 1u << 20));
#endif
}

std::unique_ptr<gz_source> gz_source_zlib(int fd, unsigned bufferSize)
{
    gzFile gz = gzdopen(fd, "rb");
    if (!gz) {
        close(fd);
        return nullptr;
    }
    return std::unique_ptr<gz_source>(new zlib_source(gz, bufferSize));
}

} // namespace storage_internal
