#pragma once
/// Row conversions between the stored pixel formats, used by LockBits, Clone, ConvertFormat and the
/// codecs. Pixels of sub-byte formats are addressed by their index in the row (`x0`), most
/// significant bits first.

#include "imaging/Image.h"

#include <vector>

namespace imaging {

/// Reads `count` pixels starting at pixel `x0` of a row in `format` as ARGB values (indexed formats
/// look their entries up in `palette`; a missing entry reads as opaque black).
void ReadRowARGB(const uint8_t* row, PixelFormat format, const ColorPalette* palette, uint32_t x0,
                 uint32_t count, ARGB* out);
/// Writes `count` ARGB values into a row in `format` starting at pixel `x0`; indexed formats get
/// the nearest entry of `palette` (the bits of other pixels sharing a byte are kept).
void WriteRowARGB(const ARGB* in, uint32_t count, uint8_t* row, PixelFormat format,
                  const ColorPalette* palette, uint32_t x0);

/// Converts `count` pixels from one format to another. Between indexed formats whose palettes are
/// equal the indices are copied when they fit; everything else goes through ARGB, with fast paths
/// for the common pairs.
void ConvertRow(const uint8_t* src, PixelFormat srcFormat, const ColorPalette* srcPalette, uint32_t srcX0,
                uint8_t* dst, PixelFormat dstFormat, const ColorPalette* dstPalette, uint32_t dstX0,
                uint32_t count);

/// ConvertRow over `height` rows; either stride may be negative. Palette look-ups are prepared once
/// for all rows.
void ConvertRows(const uint8_t* src, int32_t srcStride, PixelFormat srcFormat, const ColorPalette* srcPalette,
                 uint32_t srcX0, uint8_t* dst, int32_t dstStride, PixelFormat dstFormat,
                 const ColorPalette* dstPalette, uint32_t dstX0, uint32_t count, uint32_t height);

/// Converts a whole rectangle of a surface into another buffer (`dstStride` may be negative).
void ConvertRect(const Surface& src, const ColorPalette* srcPalette, const Rect& rect, uint8_t* dst,
                 int32_t dstStride, PixelFormat dstFormat, const ColorPalette* dstPalette);

/// Index of the palette entry nearest to `c` (squared RGB distance plus alpha; first of equals).
uint32_t NearestPaletteIndex(const ColorPalette& palette, ARGB c);

/// NearestPaletteIndex for many colours: only the first `limit` entries are candidates (the indices
/// a format can hold), `skip` (when in range) is never chosen, and recent answers are remembered.
/// With no candidate at all every colour maps to 0.
class PaletteMapper {
  public:
    explicit PaletteMapper(const ColorPalette* palette, uint32_t limit = 256, int32_t skip = -1);
    uint32_t Nearest(ARGB c);

  private:
    struct Candidate {
        int32_t a, r, g, b;
        uint32_t index;
    };
    uint32_t Search(ARGB c) const;

    std::vector<Candidate> byGreen_; // sorted by green, so a search can stop early
    std::vector<uint64_t> cache_;    // colour << 32 | index + 1; 0 is an empty slot
};

/// Pixel `x` of a 1, 4 or 8 bpp row.
inline uint32_t GetIndex(const uint8_t* row, uint32_t bpp, uint32_t x) {
    if (bpp == 1) return (row[x >> 3] >> (7 - (x & 7))) & 1u;
    if (bpp == 4) return (x & 1) ? (row[x >> 1] & 15u) : (row[x >> 1] >> 4);
    return row[x];
}
/// Sets pixel `x` of a 1, 4 or 8 bpp row; the other pixels of the byte are kept.
inline void SetIndex(uint8_t* row, uint32_t bpp, uint32_t x, uint32_t v) {
    if (bpp == 1) {
        const uint8_t mask = uint8_t(0x80 >> (x & 7));
        row[x >> 3] = uint8_t((v & 1) ? (row[x >> 3] | mask) : (row[x >> 3] & ~mask));
    } else if (bpp == 4) {
        uint8_t& b = row[x >> 1];
        b = (x & 1) ? uint8_t((b & 0xF0) | (v & 15)) : uint8_t((b & 0x0F) | ((v & 15) << 4));
    } else {
        row[x] = uint8_t(v);
    }
}

} // namespace imaging
