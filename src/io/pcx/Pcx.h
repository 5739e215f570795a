#pragma once
/// ZSoft PCX: 1-bit, 4-bit planar (16 colours), 8-bit with its trailing 256-colour palette and
/// 24-bit planar, all run-length encoded.

#include "imaging/Image.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace zerimo {

/// Decodes a whole PCX file held in memory into a bitmap of the matching format (1, 4 or 8 bpp
/// indexed, 24 bpp RGB); null for other layouts or a damaged header. Lines the data does not reach
/// stay as the bitmap was created. `data` stays the caller's.
std::shared_ptr<imaging::Image> ReadPcx(const uint8_t* data, size_t size);

} // namespace zerimo
