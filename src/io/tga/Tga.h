#pragma once
/// Truevision TGA (versions 1 and 2): colour-mapped, true-colour and grayscale images, raw or
/// run-length encoded, in any of the four pixel orders, with the TGA 2.0 extension area's author,
/// date and software as property items.

#include "imaging/Image.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace zerimo {

/// Decodes a whole TGA file held in memory; null when the layout is not supported or the data is
/// cut short. `data` stays the caller's.
std::shared_ptr<imaging::Image> DecodeTga(const uint8_t* data, size_t size);

/// Reads the file at `path` and decodes it; null when it cannot be read or decoded.
std::shared_ptr<imaging::Image> ReadTga(const std::string& path);

} // namespace zerimo
