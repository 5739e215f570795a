#pragma once
/// HEIF and AVIF through libheif: every top-level image of a file as one page, and every frame of
/// an image as one top-level image. Library errors never leave these functions.

#include "imaging/Image.h"
#include "imaging/Stream.h"

#include <memory>
#include <string>

namespace zerimo {

/// Decodes a HEIF/AVIF stream (read from its start; it stays the caller's) into a 24 bpp RGB
/// bitmap, or 32 bpp ARGB for images with alpha, with one page per top-level image, the primary
/// image first. Null when the bytes are not HEIF/AVIF or the library fails.
std::shared_ptr<imaging::Image> ReadHeif(imaging::Stream& stream);

/// Encodes every frame of the image's first frame dimension as one top-level image (HEVC, or AV1
/// when `extension` is ".avif") at the lossy `quality` and writes the file to `out`. Indexed
/// images are first converted in place to 32bppARGB. False on any library, pixel or write failure.
bool WriteHeif(imaging::Image& image, imaging::Stream& out, const std::string& extension, int quality);

namespace Heif {
/// Full-range BT.601 YCbCr of one pixel, as the writer stores it.
void ToYCbCr(uint8_t b, uint8_t g, uint8_t r, uint8_t& y, uint8_t& cb, uint8_t& cr);
} // namespace Heif

} // namespace zerimo
