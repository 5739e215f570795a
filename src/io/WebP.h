#pragma once
/// WebP through libwebp: the reader of the load chain and the lossy writer of the save chain.

#include "imaging/Image.h"
#include "imaging/Stream.h"

#include <memory>

namespace zerimo {

/// Decodes a WebP stream (read from its start) into a 32bppARGB bitmap; null when the bytes are
/// not WebP, cannot be read or cannot be decoded. The stream stays the caller's.
std::shared_ptr<imaging::Image> ReadWebp(imaging::Stream& stream);

/// Encodes the image's active frame lossily at `quality` (1 to 100) and writes it to `out`.
/// Indexed images are first converted in place to 32bppARGB. False when the pixels cannot be
/// read, encoding fails or the bytes cannot be written.
bool WriteWebp(imaging::Image& image, imaging::Stream& out, int quality);

} // namespace zerimo
