// Fuzzes the xz reader (framing: stream header and footer, block headers,
// index, padding, concatenated streams) against liblzma's plain decoder.
#include "codec_fuzz.h"

#include <lzma.h>

namespace {

bool reference(const uint8_t *data, size_t size, size_t limit, std::vector<uint8_t> *out)
{
    lzma_stream s = LZMA_STREAM_INIT;
    if (lzma_stream_decoder(&s, UINT64_MAX, LZMA_CONCATENATED) != LZMA_OK)
        return false;
    out->resize(limit + 1);
    s.next_in = data;
    s.avail_in = size;
    s.next_out = out->data();
    s.avail_out = out->size();
    lzma_ret r = LZMA_OK;
    while (r == LZMA_OK && s.avail_out > 0)
        r = lzma_code(&s, LZMA_FINISH);
    out->resize(out->size() - s.avail_out);
    lzma_end(&s);
    return r == LZMA_STREAM_END && out->size() <= limit;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    return fuzzdev::init();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    return fuzzdev::run_codec(IMAGE_XZ, reference, data, size);
}
