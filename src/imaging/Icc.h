#pragma once
/// Colour management with lcms2: converting decoded pixels from an embedded profile (or PNG's
/// gamma and chromaticities) to sRGB in place.

#include "imaging/Image.h"

#include <cstdint>
#include <vector>

namespace imaging {

/// Converts a 24bppRGB, 32bppRGB or 32bppARGB surface from the ICC profile to sRGB. Grey and CMYK
/// profiles are not applied here (decoders convert those pixels before). False (pixels untouched)
/// when the profile is unusable or does not describe RGB.
bool ApplyIccProfile(Surface& pixels, const uint8_t* icc, size_t size);

/// The same for an 8bppIndexed palette (entries converted, alpha kept).
bool ApplyIccProfile(ColorPalette& palette, const uint8_t* icc, size_t size);

/// Converts from a source described by its file gamma (PNG gAMA / 100000, e.g. 0.45455) and optional
/// chromaticities (white x, y, red x, y, green x, y, blue x, y) to sRGB.
bool ApplyGammaChromaticities(Surface& pixels, double fileGamma, const double* chrm);
bool ApplyGammaChromaticities(ColorPalette& palette, double fileGamma, const double* chrm);

} // namespace imaging
