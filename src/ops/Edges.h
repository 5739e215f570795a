#pragma once
/// Extract Edges: the largest absolute difference across the four directions through each pixel.

#include "imaging/Image.h"

#include <memory>

namespace zerimo {

/// A new bitmap in `format` (24bppRGB or 32bppARGB; `source` is read in it) whose inner pixels hold,
/// per byte (alpha included), max(|NE - SW|, |SE - NW|, |N - S|, |E - W|); the border stays 0.
/// Null when a bitmap cannot be made or locked.
std::shared_ptr<imaging::Image> ExtractEdges(imaging::Image& source, imaging::PixelFormat format);

} // namespace zerimo
