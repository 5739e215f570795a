#pragma once
/// The geometric operations' drawing: the canvas of a free rotation, the rotated draw with smooth
/// edges, the high-quality resize, and the sizes of the screen-fitting resizes. The document makes
/// the target bitmaps (with the source's resolution) and installs the results.

#include "imaging/Image.h"
#include "imaging/Types.h"

namespace zerimo {

/// The canvas of a W x H image turned by `degrees`: ceil(|W c| + |H s|) x ceil(|W s| + |H c|) as the
/// four turned corners give it in single precision.
imaging::Size RotatedCanvasSize(uint32_t width, uint32_t height, double degrees);

/// Draws `src` turned by `degrees` (clockwise on screen) about its centre onto the centre of `dst`,
/// bilinear, with anti-aliased edges; what the image does not cover keeps dst's pixels.
imaging::Status DrawRotatedImage(imaging::Image& dst, imaging::Image& src, double degrees);

/// Draws all of `src` into all of `dst` with high-quality bicubic filtering, the edges mirrored.
imaging::Status DrawResizedImage(imaging::Image& dst, imaging::Image& src);

/// Resize To Screen Proportional: (W x V / H, V) for a screen V pixels high, in single precision.
imaging::SizeF ScreenProportionalSize(uint32_t width, uint32_t height, int screenHeight);

} // namespace zerimo
