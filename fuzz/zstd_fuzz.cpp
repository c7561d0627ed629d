// Fuzzes the zstd reader (framing: frame headers, blocks, skippable frames,
// checksums, frames one after another) against libzstd's one-shot decoder.
#include "codec_fuzz.h"

#include <zstd.h>

namespace {

bool reference(const uint8_t *data, size_t size, size_t limit, std::vector<uint8_t> *out)
{
    // The streaming decoder, as the one-shot one ignores the window limit
    // that zstd -dc (and the writer) keep. An empty input is no stream.
    ZSTD_DCtx *ctx = ZSTD_createDCtx();
    if (!ctx || size == 0) {
        ZSTD_freeDCtx(ctx);
        return false;
    }
    out->resize(limit + 1);
    ZSTD_inBuffer in = {data, size, 0};
    ZSTD_outBuffer o = {out->data(), out->size(), 0};
    bool inFrame = true, ok = true;
    while (ok) {
        const size_t inPos = in.pos, outPos = o.pos;
        const size_t r = ZSTD_decompressStream(ctx, &o, &in);
        ok = !ZSTD_isError(r) && o.pos < o.size;
        if (in.pos == inPos && o.pos == outPos)
            break;
        inFrame = r != 0;
    }
    ZSTD_freeDCtx(ctx);
    out->resize(o.pos);
    return ok && !inFrame && in.pos == in.size;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    return fuzzdev::init();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    return fuzzdev::run_codec(IMAGE_ZSTD, reference, data, size);
}
