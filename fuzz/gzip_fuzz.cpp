// Fuzzes the gzip readers: the inflate onto a 128 KiB partition of an
// in-memory device (nothing may land outside it, and a stream zlib itself
// rejects must not end in success), the peek at the first bytes and the
// inflate into a file.
#include "fuzz_device.h"
#include "storage/imagewriter.h"

#include <zlib.h>

namespace {

// zlib's own verdict on the whole input: inflated size, or -1 when it is
// not a complete, valid gzip stream (one or more members).
int64_t reference_size(const uint8_t *data, size_t size)
{
    z_stream z;
    memset(&z, 0, sizeof z);
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK)
        return -1;
    int64_t total = 0;
    uint8_t out[16384];
    z.next_in = const_cast<uint8_t *>(data);
    z.avail_in = static_cast<uInt>(size);
    int rc = Z_OK;
    while (true) {
        z.next_out = out;
        z.avail_out = sizeof out;
        rc = inflate(&z, Z_NO_FLUSH);
        total += static_cast<int64_t>(sizeof out - z.avail_out);
        if (rc == Z_STREAM_END) {
            // Another member may follow; trailing bytes that are not one
            // are ignored like the writer does.
            if (z.avail_in == 0 || z.next_in[0] != 0x1f)
                break;
            inflateReset(&z);
            continue;
        }
        if (rc != Z_OK || total > (int64_t(1) << 24))
            break;
    }
    inflateEnd(&z);
    return rc == Z_STREAM_END ? total : -1;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    return fuzzdev::init();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static fuzzdev::device dev;
    static fuzzdev::input in;
    static fuzzdev::input out;
    FILE *img = in.open(data, size);
    if (!img)
        return 0;
    if (dev.open()) {
        const int ret = write_raw_gz(dev.path(), fuzzdev::OFFSET, fuzzdev::PART, img, int64_t(size), "f", "p", 1, 1);
        const int64_t expect = reference_size(data, size);
        if (ret == 0 && (expect < 0 || expect > fuzzdev::PART))
            __builtin_trap();
        dev.check();
    }
    uint8_t head[102];
    if (fseek(img, 0, SEEK_SET) == 0)
        gzip_read(img, head, sizeof head);
    FILE *sink = out.open(nullptr, 0, "wb");
    if (sink && fseek(img, 0, SEEK_SET) == 0)
        decompress_gz(sink, img, int64_t(size));
    if (sink)
        fclose(sink);
    fclose(img);
    return 0;
}
