#pragma once
/// Animated PNG: every frame of the animation as one frame of a multi-frame image, each at its own
/// size and in file order (offsets, delays, disposal and blending are not applied).

#include "imaging/Image.h"
#include "imaging/Stream.h"

#include <memory>

namespace zerimo {

/// Reads an APNG from the start of `stream` (which stays the caller's). Returns null for a PNG
/// without animation frames and for a damaged file, the latter with its reason on standard error;
/// writes its progress to standard output. Frame 0 is decoded here, the others when selected.
std::shared_ptr<imaging::Image> DecodeApng(imaging::Stream& stream);

} // namespace zerimo
