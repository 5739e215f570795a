#pragma once
/// Memory for the readers that decode whole files: the file's bytes and the bitmap's pixels, on
/// huge pages when they are big. Faulting in a large picture's worth of small pages costs more
/// than decoding it.

#include "imaging/Image.h"
#include "imaging/Stream.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zerimo {

struct ByteBuffer {
    std::unique_ptr<uint8_t[], imaging::FreeDeleter> data;
    size_t size = 0;
};

/// `size` bytes, not cleared; false when out of memory.
bool AllocateBytes(ByteBuffer& out, size_t size);

/// Reads the file at `path` whole, up to `limit` bytes; false when it cannot be opened or read, or
/// is larger.
bool ReadFileBytes(const std::string& path, ByteBuffer& out, uint64_t limit = uint64_t(1) << 32);

/// Reads a stream whole from its start, its size found by seeking to its end; false when that
/// seek or a read fails, or the stream is empty or larger than `limit`.
bool ReadStreamBytes(imaging::Stream& stream, std::vector<uint8_t>& bytes, uint64_t limit);

/// As Surface::Allocate: width x height in `format` with the default stride, cleared when `zero`;
/// OutOfMemory above MaxFramePixels or when the allocation fails.
imaging::Status AllocatePixels(imaging::Surface& out, uint32_t width, uint32_t height,
                               imaging::PixelFormat format, bool zero);

/// Zeroes the bytes of every row after its first `used`, which the decoders do not write.
void ClearRowPadding(imaging::Surface& s, size_t used);

} // namespace zerimo
