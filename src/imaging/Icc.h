#pragma once
/// Colour management with lcms2: converting decoded pixels from an embedded profile (or PNG's
/// gamma and chromaticities) to sRGB in place.

#include "imaging/Image.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace imaging {

/// Converts a 24bppRGB, 32bppRGB or 32bppARGB surface from the ICC profile to sRGB. Grey and CMYK
/// profiles are not applied here (decoders convert those pixels before). False (pixels untouched)
/// when the profile is unusable or does not describe RGB.
bool ApplyIccProfile(Surface& pixels, const uint8_t* icc, size_t size);

/// The same for an 8bppIndexed palette (entries converted, alpha kept).
bool ApplyIccProfile(ColorPalette& palette, const uint8_t* icc, size_t size);

/// Converts a decoded frame from its embedded profile to sRGB: the palette of an indexed frame, else
/// its pixels. An applied profile no longer describes the pixels, and kept it would be applied again
/// after the next save and open, so the frame's ICC item is removed. False (frame untouched) when the
/// profile cannot be applied.
bool ApplyEmbeddedProfile(Frame& frame, const uint8_t* icc, size_t size);

/// Converts from a source described by its file gamma (PNG gAMA / 100000, e.g. 0.45455) and optional
/// chromaticities (white x, y, red x, y, green x, y, blue x, y) to sRGB.
bool ApplyGammaChromaticities(Surface& pixels, double fileGamma, const double* chrm);
bool ApplyGammaChromaticities(ColorPalette& palette, double fileGamma, const double* chrm);

/// Converts rows of grey or CMYK samples to sRGB through an embedded profile, for decoders whose
/// pixels are not RGB yet. One converter serves one image on one thread.
class IccRowConverter {
  public:
    /// Gray: one byte per pixel. Cmyk: C, M, Y, K with 255 = full ink. InvertedCmyk: 255 = no ink,
    /// as Adobe applications write CMYK JPEGs.
    enum class Input { Gray, Cmyk, InvertedCmyk };
    /// Null when the profile is unusable or does not describe `input`.
    static std::unique_ptr<IccRowConverter> Create(const uint8_t* icc, size_t size, Input input);
    ~IccRowConverter();
    /// Converts `count` input pixels to `count` B, G, R triples.
    void Convert(const uint8_t* in, uint8_t* out, uint32_t count) const;

  private:
    struct Impl;
    explicit IccRowConverter(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

} // namespace imaging
