// Writers of partition and disk images onto the device opened by mmc_open:
// raw or Android sparse (write_image) and gzip-, xz- or zstd-compressed raw
// images, plus decompression of such a file into another file and a peek at
// its start.
//
// Progress and speed go to the sinks of the streamed copy (mmc.h); the same
// cancel flag stops them between chunks with MMC_COPY_CANCELLED.
#pragma once

#include "storage/mmc.h"
#include "storage/sparse_format.h"

#include <cstdint>
#include <cstdio>
#include <string>

// Size of the pieces the gzip functions inflate and write (bytes).
constexpr int GZIP_PIECE_SIZE = 1600000;

// How a raw image file is compressed, told by its name.
enum image_compression { IMAGE_RAW, IMAGE_GZIP, IMAGE_XZ, IMAGE_ZSTD };

// IMAGE_GZIP for a name ending in ".gz", IMAGE_XZ for ".xz", IMAGE_ZSTD for
// ".zst" (case-sensitive, as the scan of the media takes them), else
// IMAGE_RAW.
image_compression image_compression_of(const char *name);
// "gzip", "xz", "zstd" ("raw" for IMAGE_RAW): the prefix of the causes that
// image_input_error() reports.
const char *image_compression_name(image_compression kind);

// Writes the image file `fp` (at its start, fileSize bytes) at byte `offset`
// of the open device: expanded when it is a sparse image, else byte for
// byte. Returns 0; -ENOENT when the first 28 bytes cannot be read; -ENOMEM
// when a sparse image is larger than partitionSize (nothing written); -1 or
// another negative value on any other failure (corrupt sparse data is
// refused before anything is written past the partition).
int write_image(const char *device, int64_t offset, int64_t partitionSize, FILE *fp, int64_t fileSize,
                const char *imageName, const char *partitionName, int fileCount, int fileIndex);

// Checks the image file `fp` (fileSize bytes, from its start) the way
// write_image would take it, without a device: a raw image is 0 (its size
// is the caller's to check); an Android sparse image must have sane header
// sizes, chunks that each fit the file, the image and `partitionSize`, and
// chunks that cover exactly `total_blks` blocks. Returns 0, -ENOMEM when the
// image is larger than partitionSize, -EINVAL for a damaged image, -ENOENT
// when the header cannot be read; *why (may be null) gets the cause. The
// file position is left at the start.
int sparse_image_check(FILE *fp, int64_t fileSize, int64_t partitionSize, std::string *why);

// What made the last image writer call fail on its input rather than on the
// device (a damaged or truncated sparse or gzip image), "" when it did not.
// Cleared when a writer starts.
const std::string &image_input_error();

// Expands the chunks of a sparse image whose 28-byte header has been read
// from the current stream (stream_init done). partitionSize bounds every
// chunk's output range. Returns 0 or negative.
int ext4_compress_write(const char *device, int64_t offset, int64_t partitionSize,
                        const sparse_header_t *header);

// Inflates the gzip file `fp` (fileSize compressed bytes, from the
// descriptor's current position) onto the device at `offset`. Returns 0, or
// -1 on any failure (a truncated or corrupt stream included),
// MMC_COPY_CANCELLED when cancelled, -EFBIG when the inflated data would run
// past partitionSize bytes (when above 0; nothing is written past it).
int write_raw_gz(const char *device, int64_t offset, int64_t partitionSize, FILE *fp, int64_t fileSize,
                 const char *imageName, const char *partitionName, int fileCount, int fileIndex);
// write_raw_gz for any compression but IMAGE_RAW, with the same results.
int write_raw_compressed(image_compression kind, const char *device, int64_t offset, int64_t partitionSize,
                         FILE *fp, int64_t fileSize, const char *imageName, const char *partitionName,
                         int fileCount, int fileIndex);

// Inflates the gzip file `in` (inSize compressed bytes) into `out`. Returns
// >= 0 on success, -2 when out of memory, -1 when the stream cannot be
// opened or is truncated/corrupt, -3 when writing `out` fails.
int decompress_gz(FILE *out, FILE *in, int64_t inSize);
// decompress_gz for any compression but IMAGE_RAW, with the same results.
int decompress_image(image_compression kind, FILE *out, FILE *in, int64_t inSize);

// Reads the first `length` inflated bytes of the gzip file `fp` into
// `buffer`. Returns 0; when the (complete) stream holds fewer bytes the rest
// of `buffer` is zeroed and 0 is returned as well. -1 when the stream is not
// gzip, is corrupt or is cut short before `length` bytes; -ENOENT when out
// of memory. The descriptor's position is the same afterwards.
int gzip_read(FILE *fp, void *buffer, int length);
// gzip_read for any compression but IMAGE_RAW, with the same results.
int compressed_read(image_compression kind, FILE *fp, void *buffer, int length);
