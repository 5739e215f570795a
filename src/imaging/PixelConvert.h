#pragma once
/// Row conversions between the stored pixel formats, used by LockBits, Clone, ConvertFormat and the
/// codecs. Pixels of sub-byte formats are addressed by their index in the row (`x0`), most
/// significant bits first.

#include "imaging/Image.h"

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

/// Converts a whole rectangle of a surface into another buffer (`dstStride` may be negative).
void ConvertRect(const Surface& src, const ColorPalette* srcPalette, const Rect& rect, uint8_t* dst,
                 int32_t dstStride, PixelFormat dstFormat, const ColorPalette* dstPalette);

/// Index of the palette entry nearest to `c` (squared RGB distance plus alpha; first of equals).
uint32_t NearestPaletteIndex(const ColorPalette& palette, ARGB c);

} // namespace imaging
