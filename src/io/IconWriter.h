#pragma once
/// The icon writer: one image as a single-entry .ico with a colour bitmap at a chosen depth and a
/// 1-bit AND mask.

#include "imaging/Image.h"
#include "imaging/Stream.h"

namespace zerimo {

/// Writes `image` (its active frame) as an icon of `depth` bits per pixel (1, 4, 8, 16, 24 or 32;
/// anything else becomes 24). False when the pixels cannot be read or the bytes cannot be written.
bool WriteIcon(imaging::Image& image, imaging::Stream& out, int depth);

} // namespace zerimo
