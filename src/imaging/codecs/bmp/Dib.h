#pragma once
/// Device-independent bitmaps: the header, bit-field masks, colour table and pixel layouts that BMP
/// files, icon entries and clipboard DIBs share, and bitmap creation from a DIB.

#include "imaging/Image.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace imaging {

/// Creates a bitmap from a packed BITMAPINFO (`infoSize` bytes: the header, the masks that follow a
/// 40-byte bit-field header, then the colour table) and its pixel bits (`bitsSize` bytes, read only
/// during the call). The bitmap owns its pixels, in the format a BMP file with that header decodes
/// to, with raw format MemoryBMP. Failed(status) for a malformed header, short bits or a frame above
/// MaxFramePixels.
std::shared_ptr<Image> CreateBitmapFromGdiDib(const uint8_t* info, size_t infoSize, const uint8_t* bits,
                                              size_t bitsSize);

namespace dib {

enum Compression : uint32_t {
    BiRgb = 0,
    BiRle8 = 1,
    BiRle4 = 2,
    BiBitfields = 3,
    BiJpeg = 4,
    BiPng = 5,
    BiAlphaBitfields = 6,
};

constexpr uint32_t ProfileEmbedded = 0x4D424544; // 'MBED'

/// A parsed header with its masks and colour table.
struct DibInfo {
    uint32_t headerSize = 0;
    uint32_t width = 0;
    uint32_t height = 0; // rows, whichever way they run
    bool topDown = false;
    uint16_t bitCount = 0;
    uint32_t compression = BiRgb;
    uint32_t sizeImage = 0;
    int32_t xPelsPerMeter = 0;
    int32_t yPelsPerMeter = 0;
    /// Red, green, blue and alpha masks; set only for bit-field compression.
    uint32_t masks[4] = {};
    /// The colour table of 1- to 8-bit pixels (opaque entries); possibly shorter than 2^bitCount.
    ColorPalette palette;
    /// Bytes from the start of the info to the colour table (behind the header and its masks), and
    /// to the end of the table as the header declares it.
    size_t tableOffset = 0;
    size_t infoEnd = 0;
    /// Colour space and, for an embedded profile, its place relative to the start of the header.
    uint32_t csType = 0;
    uint32_t profileData = 0;
    uint32_t profileSize = 0;
};

/// Parses the header at the start of `info` and what follows it. The declared colour table must lie
/// within `infoSize`; only its first `tableLimit` bytes from the start of `info` are read (a file's
/// pixel offset can cut it short). Unsupported but well-formed layouts give NotImplemented, anything
/// malformed GenericError.
Status ParseInfo(const uint8_t* info, size_t infoSize, size_t tableLimit, DibInfo& out);

/// The resolution from the pels-per-metre fields: 96 dpi and `real` false when both are 0, one given
/// field stands for both. A density below 1 dpi or above any device's is a corrupt header.
Status Resolution(const DibInfo& info, float& dpiX, float& dpiY, bool& real);

struct BitsOptions {
    /// Icon entries keep the fourth byte of 32-bit rows as alpha.
    bool alphaInRgb32 = false;
    /// Fail when the header's image size claims more bytes than the bits hold.
    bool checkSizeImage = true;
};

/// Decodes the pixel bits into `out.pixels` and `out.palette`. Every read is checked against
/// `bitsSize`: short bits fail rather than give a partial image, as do indices beyond the colour
/// table. Pixels that run-length data skips keep index 0.
Status DecodeBits(const DibInfo& info, const uint8_t* bits, size_t bitsSize, const BitsOptions& options,
                  Frame& out);

} // namespace dib
} // namespace imaging
