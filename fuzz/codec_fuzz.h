// The body shared by the xz and zstd fuzzers: the image written onto a
// 128 KiB partition of an in-memory device must be exactly what the
// library's own one-shot reference decoder makes of the input (and nothing
// may land outside the partition); a stream the reference rejects, or one
// that expands past the partition, must not end in success, and a valid
// one that fits must not be refused. The peek at the
// first bytes and the expansion into a file run on every input too.
#pragma once

#include "fuzz_device.h"
#include "storage/imagewriter.h"

#include <vector>

namespace fuzzdev {

// Reference verdict: true with the expansion in *out when the input is a
// complete, valid stream whose expansion is at most `limit` bytes.
using reference_decoder = bool (*)(const uint8_t *data, size_t size, size_t limit, std::vector<uint8_t> *out);

inline int run_codec(image_compression kind, reference_decoder reference, const uint8_t *data, size_t size)
{
    static device dev;
    static input in;
    static input out;
    FILE *img = in.open(data, size);
    if (!img)
        return 0;
    if (dev.open()) {
        const int ret = write_raw_compressed(kind, dev.path(), OFFSET, PART, img, int64_t(size), "f", "p", 1, 1);
        std::vector<uint8_t> want;
        const bool valid = reference(data, size, size_t(PART), &want);
        // Success on a stream the reference rejects, or a refusal of one it
        // takes, are both faults.
        if ((ret == 0) != valid)
            __builtin_trap();
        if (ret == 0) {
            std::vector<uint8_t> got(want.size());
            if (pread(mmc_fd, got.data(), got.size(), OFFSET) != ssize_t(got.size()) || got != want)
                __builtin_trap();
        }
        dev.check();
    }
    uint8_t head[102];
    if (fseek(img, 0, SEEK_SET) == 0)
        compressed_read(kind, img, head, sizeof head);
    FILE *sink = out.open(nullptr, 0, "wb");
    if (sink && fseek(img, 0, SEEK_SET) == 0)
        decompress_image(kind, sink, img, int64_t(size));
    if (sink)
        fclose(sink);
    fclose(img);
    return 0;
}

} // namespace fuzzdev
