#pragma once
/// Whole-image and area colour operations: GrayScale with its marker, the red-eye area, replacing
/// colours, and the paint-stroke and text edits drawn into a copy of the image.

#include "imaging/Effects.h"
#include "imaging/Graphics.h"
#include "imaging/Image.h"

#include <memory>
#include <string>
#include <vector>

namespace zerimo {

/// The value of the grayscale marker (item 0x0107, one SHORT).
inline constexpr uint16_t GrayscaleMarkerValue = 100;

/// A grey copy of `src`: its green channel stretched so that the lowest green of the counting
/// pixels (alpha above 15, or every pixel without alpha) becomes 0 and the highest 255. Works in
/// src's format when it has 24 or 32 bits per pixel, else in 32bppARGB. When the range is empty
/// (one green value, or no counting pixel) the green channel is taken as it is. Null when the copy
/// cannot be made or locked.
std::shared_ptr<imaging::Image> GrayScaleImage(imaging::Image& src);
/// Sets the grayscale marker that the colour reduction reads to choose the Otsu threshold.
imaging::Status SetGrayscaleMarker(imaging::Image& image);

/// The red-eye area of a selection in image pixels: left and top rounded down, right and bottom
/// = ceil(size) + floor(origin), in single precision.
imaging::RECT RedEyeArea(float x, float y, float w, float h);

/// Replaces `oldColor` by `newColor` in place: pixels whose red, green and blue each differ from
/// the old colour's by less than 64 become clamp(new + old - pixel) per channel, alpha kept.
/// `image` is 16, 24 or 32 bits per pixel. Returns the pixels changed; -1 when the pixels cannot be
/// locked.
int64_t ReplaceColors(imaging::Image& image, imaging::ARGB oldColor, imaging::ARGB newColor);
/// One pixel of the replacement (the rule above, alpha kept).
imaging::ARGB ReplaceColor(imaging::ARGB pixel, imaging::ARGB oldColor, imaging::ARGB newColor);

/// A paint stroke: a dot 6 pixels across in `color` at each point, anti-aliased.
imaging::Status PaintDots(imaging::Image& image, const std::vector<imaging::PointF>& points,
                          imaging::ARGB color);

/// Anti-aliased text in `color` with its origin at `origin`.
imaging::Status DrawTextAt(imaging::Image& image, const std::string& text, const imaging::Font& font,
                           imaging::PointF origin, imaging::ARGB color);

} // namespace zerimo
