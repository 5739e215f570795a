#pragma once
/// Burning a pending adjustment into pixels: what drawing a bitmap through image attributes onto a
/// cleared (transparent white) bitmap of the same size gives, computed by a direct pixel loop.

#include "imaging/Image.h"
#include "imaging/ImageAttributes.h"

namespace zerimo {

/// Writes into `dst` (same size as `src`, cleared to transparent white) what a source-over draw of
/// `src` through `attributes` gives, pixel for pixel. Handles 24bppRGB, 32bppRGB and 32bppARGB
/// sources into 24bppRGB or 32bppARGB targets with a plain colour matrix and gamma; false (nothing
/// written) for anything else, which the caller then draws.
bool BakeAdjustmentInto(imaging::Image& dst, imaging::Image& src, const imaging::ImageAttributes& attributes);

} // namespace zerimo
