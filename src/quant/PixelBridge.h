#pragma once
/// The only place where the quantizers meet bitmaps: a bitmap read into a flat ARGB array (learning
/// which pixels are transparent on the way), and finished indices or values written into a target
/// bitmap that the front end created in the target format.

#include "imaging/Image.h"

#include <cstdint>
#include <vector>

namespace zerimo {

/// Reads `image` as ARGB into `pixels` (already width x height). `transparentPixelIndex` becomes the
/// position of the last fully transparent pixel (or -1); above two colours `transparentColor`
/// follows the transparent pixels (and a palette's transparent entry), at two or fewer they take
/// it. Pixels with alpha in 1..223 above `alphaThreshold` are counted in `semiTransparentCount`.
/// False only when the pixels cannot be locked.
bool ReadArgbPixels(imaging::Image& image, std::vector<imaging::ARGB>& pixels, int& semiTransparentCount,
                    int& transparentPixelIndex, imaging::ARGB& transparentColor, uint8_t alphaThreshold,
                    uint32_t colorCount);

/// Writes the palette and the low bytes of `indices` into a 1-, 4- or 8-bit target; with
/// `markTransparent` index 0 is announced as transparent. "Cannot write image" on standard error
/// when the target cannot be locked.
bool WriteIndexedImage(imaging::Image& target, const imaging::ColorPalette& palette,
                       const std::vector<uint16_t>& indices, bool markTransparent);

/// Writes one value per pixel into a target of 16 or more bits, first converting it to ARGB,
/// ARGB1555 or RGB565 as the transparency asks.
bool WriteHighColorImage(imaging::Image& target, const std::vector<uint32_t>& values,
                         bool hasSemiTransparency, int transparentPixelIndex);

} // namespace zerimo
