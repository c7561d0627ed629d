// A multi-block xz image (xz -T, xz --block-size) written onto the device a
// block at a time on several threads (internal to the storage layer), each
// piece written as soon as it is decoded, whichever block it belongs to.
//
// The in-order decoder hands the image over front to back, and images are
// not even: the used part of a file system (slow to decode, barely
// compressed) comes first, the empty rest (decoded at once) last. A device
// limited to its own pace (an eMMC, a card) then waits while the front is
// decoded and cannot make the time up later, when the decoder has nothing
// left to do; here the blocks behind a slow one are decoded and written
// meanwhile. Each thread decodes straight into a copy slot, so no decoded
// block is held in memory of its own either.
//
// Nothing is taken on trust: the index at the end of the file (checked
// against the stream footer) places every block on both sides, and every
// block is checked as it is decoded (header CRC, sizes against the index,
// the block's own check).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace storage_internal {

class device_sink;

class xz_block_writer
{
public:
    // Reads the index of the xz file on `fd` (the image is the `size` bytes
    // from `base`). Null when the file is not one to write this way (one
    // block only, one decoder thread, not a regular file, an index that
    // cannot be read): the in-order decoder takes it then and, for a
    // damaged file, says what is wrong with it.
    static std::unique_ptr<xz_block_writer> open(int fd, int64_t base, int64_t size);
    ~xz_block_writer();
    xz_block_writer(const xz_block_writer &) = delete;
    xz_block_writer &operator=(const xz_block_writer &) = delete;

    int64_t uncompressed_size() const;

    // Decodes every block into the stream slots (stream_init done) and has
    // `sink` write it at dst + its place in the image; `progress` gets the
    // compressed bytes behind everything written so far, after each piece.
    // Returns 0; MMC_COPY_CANCELLED when the cancel flag was seen between
    // pieces; a device error; or -1 for a damaged block (error() and
    // failed_at(), the compressed offset where it was found).
    int run(device_sink &sink, int64_t dst, const std::function<void(int64_t)> &progress);
    const std::string &error() const;
    int64_t failed_at() const;

private:
    struct state;
    explicit xz_block_writer(std::unique_ptr<state> s);
    std::unique_ptr<state> m_s;
};

// The texts the xz tool prints for liblzma's results (lzma_ret).
const char *xz_message(int lzmaResult);
// What the xz decoders may use: `stop`, beyond which a file is refused;
// `threading`, what their threads may take together.
void xz_memory_limits(uint64_t *stop, uint64_t *threading);

} // namespace storage_internal
