#pragma once
/// Photoshop documents: the flattened composite image (layers are not read) in every colour mode
/// but Bitmap, 8 or 16 bits per sample, raw or PackBits-compressed, as an opaque 24 bpp picture.

#include "imaging/Image.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace zerimo {

/// Decodes a whole PSD file held in memory; null when it is not a PSD or not one this reader
/// supports. `data` stays the caller's.
std::shared_ptr<imaging::Image> DecodePsd(const uint8_t* data, size_t size);

/// Reads the file at `path` and decodes it; null on any failure.
std::shared_ptr<imaging::Image> ReadPsd(const std::string& path);

} // namespace zerimo
