#include "imaging/codecs/bmp/Dib.h"
#include "imaging/Bytes.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace imaging {
namespace dib {

namespace {

int32_t RdS32(const uint8_t* p) {
    return int32_t(ReadLE32(p));
}

// No device has a density outside 1 to this many dpi; a header that claims one is damaged.
constexpr long MaxDpi = 100000;

bool Contiguous(uint32_t m) {
    if (m == 0) return true;
    const uint32_t shifted = m >> std::countr_zero(m);
    return (shifted & (shifted + 1)) == 0;
}

Status CheckMasks(const uint32_t masks[4], uint16_t bitCount) {
    const uint64_t limit = bitCount == 16 ? 0xFFFFu : 0xFFFFFFFFu;
    uint32_t seen = 0;
    for (int i = 0; i < 4; ++i) {
        if (masks[i] > limit || !Contiguous(masks[i]) || (masks[i] & seen)) return GenericError;
        seen |= masks[i];
    }
    return (masks[0] | masks[1] | masks[2]) ? Ok : GenericError;
}

// One colour channel of a bit-field pixel, scaled to 8 bits.
struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    uint64_t max = 0;
    explicit Channel(uint32_t m) : mask(m) {
        if (m) {
            shift = std::countr_zero(m);
            max = m >> shift;
        }
    }
    uint8_t Get(uint32_t v) const {
        if (!max) return 0;
        return uint8_t(((uint64_t((v & mask) >> shift) * 255u) + max / 2) / max);
    }
};

PixelFormat StoredFormat(const DibInfo& d, bool alphaInRgb32) {
    if (d.compression == BiRle8) return PixelFormat8bppIndexed;
    if (d.compression == BiRle4) return PixelFormat4bppIndexed;
    switch (d.bitCount) {
    case 1:
        return PixelFormat1bppIndexed;
    case 2:
    case 4:
        return PixelFormat4bppIndexed;
    case 8:
        return PixelFormat8bppIndexed;
    case 24:
        return PixelFormat24bppRGB;
    default:
        break;
    }
    const bool fields = d.compression == BiBitfields || d.compression == BiAlphaBitfields;
    if (d.bitCount == 16) {
        if (!fields) return PixelFormat16bppRGB555;
        if (d.masks[3] == 0 && d.masks[0] == 0x7C00 && d.masks[1] == 0x03E0 && d.masks[2] == 0x001F)
            return PixelFormat16bppRGB555;
        if (d.masks[3] == 0 && d.masks[0] == 0xF800 && d.masks[1] == 0x07E0 && d.masks[2] == 0x001F)
            return PixelFormat16bppRGB565;
        return d.masks[3] ? PixelFormat32bppARGB : PixelFormat32bppRGB;
    }
    if (!fields) return alphaInRgb32 ? PixelFormat32bppARGB : PixelFormat32bppRGB;
    return d.masks[3] ? PixelFormat32bppARGB : PixelFormat32bppRGB;
}

// Run-length data, bottom row first. The surface starts zeroed, so skipped pixels read as index 0.
Status DecodeRle(const uint8_t* p, size_t n, bool rle4, Surface& s) {
    const uint64_t w = s.width, h = s.height;
    uint64_t x = 0, y = 0;
    size_t i = 0;
    auto put = [&](uint8_t v) {
        uint8_t* row = s.Row(uint32_t(h - 1 - y));
        if (rle4) {
            uint8_t& b = row[x >> 1];
            b = (x & 1) ? uint8_t((b & 0xF0) | v) : uint8_t((b & 0x0F) | (v << 4));
        } else {
            row[x] = v;
        }
        ++x;
    };
    for (;;) {
        if (n - i < 2) // the data ended without its end-of-bitmap code: fine only when every row is done
            return (y >= h || (y == h - 1 && x == w)) ? Ok : GenericError;
        const uint8_t a = p[i], b = p[i + 1];
        i += 2;
        if (a > 0) {
            if (y >= h || x + a > w) return GenericError;
            for (uint32_t k = 0; k < a; ++k) put(rle4 ? ((k & 1) ? (b & 15) : (b >> 4)) : b);
        } else if (b == 0) {
            x = 0;
            ++y;
        } else if (b == 1) {
            return Ok;
        } else if (b == 2) {
            if (n - i < 2) return GenericError;
            x += p[i];
            y += p[i + 1];
            i += 2;
            if (x > w || y > h) return GenericError;
        } else {
            const size_t bytes = rle4 ? (size_t(b) + 1) / 2 : b;
            if (n - i < bytes || y >= h || x + b > w) return GenericError;
            for (uint32_t k = 0; k < b; ++k) {
                const uint8_t v = rle4 ? ((k & 1) ? (p[i + k / 2] & 15) : (p[i + k / 2] >> 4)) : p[i + k];
                put(v);
            }
            i += std::min(n - i, (bytes + 1) & ~size_t(1)); // absolute runs are padded to 16 bits
        }
    }
}

// Indices past a short colour table have no colour; such a file is corrupt rather than black.
bool IndicesInTable(const Surface& s, uint32_t tableSize) {
    const uint32_t bits = GetPixelFormatSize(s.format);
    if (tableSize >= (1u << bits)) return true;
    for (uint32_t y = 0; y < s.height; ++y) {
        const uint8_t* row = s.Row(y);
        for (uint32_t x = 0; x < s.width; ++x) {
            uint32_t v;
            if (bits == 8)
                v = row[x];
            else if (bits == 4)
                v = (x & 1) ? (row[x >> 1] & 15) : (row[x >> 1] >> 4);
            else
                v = (row[x >> 3] >> (7 - (x & 7))) & 1;
            if (v >= tableSize) return false;
        }
    }
    return true;
}

void CopyRow(const DibInfo& d, const uint8_t* src, uint8_t* dst, PixelFormat format) {
    const uint32_t w = d.width;
    switch (d.bitCount) {
    case 2: // no 2-bit format is stored: widen each index to a nibble
        for (uint32_t x = 0; x < w; ++x) {
            const uint8_t v = (src[x >> 2] >> (6 - 2 * (x & 3))) & 3;
            uint8_t& b = dst[x >> 1];
            b = (x & 1) ? uint8_t(b | v) : uint8_t(v << 4);
        }
        return;
    case 1:
    case 4:
    case 8:
    case 24:
        std::memcpy(dst, src, (size_t(w) * d.bitCount + 7) / 8);
        return;
    default:
        break;
    }
    const bool fields = d.compression == BiBitfields || d.compression == BiAlphaBitfields;
    if (d.bitCount == 16 && (format == PixelFormat16bppRGB555 || format == PixelFormat16bppRGB565)) {
        std::memcpy(dst, src, size_t(w) * 2);
        return;
    }
    const bool alpha = format == PixelFormat32bppARGB;
    if (d.bitCount == 32 &&
        (!fields || (d.masks[0] == 0x00FF0000 && d.masks[1] == 0x0000FF00 && d.masks[2] == 0x000000FF &&
                     (d.masks[3] == 0 || d.masks[3] == 0xFF000000)))) {
        std::memcpy(dst, src, size_t(w) * 4);
        // 32bppRGB keeps its fourth byte at 255 so that nothing downstream mistakes it for alpha.
        if (!alpha)
            for (uint32_t x = 0; x < w; ++x) dst[4 * x + 3] = 255;
        return;
    }
    const Channel r(d.masks[0]), g(d.masks[1]), b(d.masks[2]), a(d.masks[3]);
    for (uint32_t x = 0; x < w; ++x) {
        const uint32_t v = d.bitCount == 16 ? ReadLE16(src + 2 * size_t(x)) : ReadLE32(src + 4 * size_t(x));
        uint8_t* o = dst + 4 * size_t(x);
        o[0] = b.Get(v);
        o[1] = g.Get(v);
        o[2] = r.Get(v);
        o[3] = alpha ? a.Get(v) : 255;
    }
}

} // namespace

Status ParseInfo(const uint8_t* info, size_t infoSize, size_t tableLimit, DibInfo& out) {
    out = DibInfo{};
    if (!info || infoSize < 4) return GenericError;
    const uint32_t hs = ReadLE32(info);
    const bool core = hs == 12;
    const bool os2 = hs == 16 || hs == 64;
    if (!core && !os2 && hs != 40 && hs != 52 && hs != 56 && hs != 108 && hs != 124) return GenericError;
    if (hs > infoSize) return GenericError;
    out.headerSize = hs;

    int64_t w, h;
    uint16_t planes;
    uint32_t clrUsed = 0;
    if (core) {
        w = ReadLE16(info + 4);
        h = ReadLE16(info + 6);
        planes = ReadLE16(info + 8);
        out.bitCount = ReadLE16(info + 10);
    } else {
        w = RdS32(info + 4);
        h = RdS32(info + 8);
        planes = ReadLE16(info + 12);
        out.bitCount = ReadLE16(info + 14);
        if (hs >= 40) {
            out.compression = ReadLE32(info + 16);
            out.sizeImage = ReadLE32(info + 20);
            out.xPelsPerMeter = RdS32(info + 24);
            out.yPelsPerMeter = RdS32(info + 28);
            clrUsed = ReadLE32(info + 32);
        }
    }
    if (w <= 0 || h == 0 || h == INT32_MIN || planes != 1) return GenericError;
    out.width = uint32_t(w);
    out.topDown = h < 0;
    out.height = uint32_t(h < 0 ? -h : h);

    const uint32_t c = out.compression;
    if (os2 && (c == 3 || c == 4)) return NotImplemented; // OS/2 Huffman 1D and RLE24
    if (c > BiAlphaBitfields || (os2 && c > BiRle4)) return GenericError;
    const uint16_t bc = out.bitCount;
    bool depthOk;
    switch (c) {
    case BiRgb:
        depthOk = bc == 1 || bc == 2 || bc == 4 || bc == 8 || bc == 24 || (!core && (bc == 16 || bc == 32));
        break;
    case BiRle8:
        depthOk = bc == 8;
        break;
    case BiRle4:
        depthOk = bc == 4;
        break;
    case BiBitfields:
    case BiAlphaBitfields:
        depthOk = bc == 16 || bc == 32;
        break;
    default: // JPEG and PNG pixels are for printers
        return NotImplemented;
    }
    if (!depthOk) return GenericError;
    if (out.topDown && (c == BiRle8 || c == BiRle4)) return GenericError;

    size_t end = hs;
    if (c == BiBitfields || c == BiAlphaBitfields) {
        if (hs == 40) {
            const size_t n = c == BiAlphaBitfields ? 4 : 3;
            if (infoSize - end < 4 * n) return GenericError;
            for (size_t i = 0; i < n; ++i) out.masks[i] = ReadLE32(info + end + 4 * i);
            end += 4 * n;
        } else {
            for (size_t i = 0; i < 3; ++i) out.masks[i] = ReadLE32(info + 40 + 4 * i);
            if (hs >= 56) out.masks[3] = ReadLE32(info + 52);
        }
        if (Status s = CheckMasks(out.masks, bc); s != Ok) return s;
    }
    if (hs >= 108) out.csType = ReadLE32(info + 56);
    if (hs >= 124) {
        out.profileData = ReadLE32(info + 112);
        out.profileSize = ReadLE32(info + 116);
    }

    const size_t entrySize = core ? 3 : 4;
    const uint64_t declared =
        core ? (bc <= 8 ? (1u << bc) : 0) : (clrUsed ? clrUsed : (bc <= 8 ? (1u << bc) : 0));
    if (declared * entrySize > infoSize - end) return GenericError;
    out.tableOffset = end;
    out.infoEnd = end + size_t(declared) * entrySize;
    if (bc <= 8) {
        const size_t room = tableLimit > end ? (std::min(tableLimit, infoSize) - end) / entrySize : 0;
        const size_t n = std::min<uint64_t>({declared, uint64_t(1) << bc, room});
        out.palette.Entries.resize(n);
        for (size_t i = 0; i < n; ++i) {
            const uint8_t* e = info + end + i * entrySize;
            out.palette.Entries[i] = MakeARGB(255, e[2], e[1], e[0]);
        }
    }
    return Ok;
}

Status Resolution(const DibInfo& info, float& dpiX, float& dpiY, bool& real) {
    int64_t x = info.xPelsPerMeter, y = info.yPelsPerMeter;
    dpiX = dpiY = 96.0f;
    real = false;
    if (x < 0 || y < 0) return GenericError;
    if (x == 0 && y == 0) return Ok;
    if (x == 0) x = y;
    if (y == 0) y = x;
    const long dx = std::lround(double(x) * 0.0254), dy = std::lround(double(y) * 0.0254);
    if (dx < 1 || dy < 1 || dx > MaxDpi || dy > MaxDpi) return GenericError;
    dpiX = float(dx);
    dpiY = float(dy);
    real = true;
    return Ok;
}

Status DecodeBits(const DibInfo& d, const uint8_t* bits, size_t bitsSize, const BitsOptions& options,
                  Frame& out) {
    if (d.width == 0 || d.height == 0) return GenericError;
    if (uint64_t(d.width) * d.height > MaxFramePixels) return OutOfMemory;
    if (!bits) bitsSize = 0;
    if (options.checkSizeImage && d.sizeImage > bitsSize) return GenericError;

    const PixelFormat format = StoredFormat(d, options.alphaInRgb32);
    const bool rle = d.compression == BiRle8 || d.compression == BiRle4;
    const uint64_t rowBytes = ((uint64_t(d.width) * d.bitCount + 31) / 32) * 4;
    if (!rle) {
        // The last row's padding may be missing; its pixels may not.
        const uint64_t need = rowBytes * (d.height - 1) + (uint64_t(d.width) * d.bitCount + 7) / 8;
        if (need > bitsSize) return GenericError;
    } else if (bitsSize == 0) {
        return GenericError;
    }

    Surface& s = out.pixels;
    if (Status st = s.Allocate(d.width, d.height, format, true); st != Ok) return st;
    if (rle) {
        const size_t n = d.sizeImage ? std::min<size_t>(d.sizeImage, bitsSize) : bitsSize;
        if (Status st = DecodeRle(bits, n, d.compression == BiRle4, s); st != Ok) {
            s = Surface{};
            return st;
        }
    } else {
        for (uint32_t y = 0; y < d.height; ++y) {
            const uint64_t fileRow = d.topDown ? y : d.height - 1 - y;
            CopyRow(d, bits + fileRow * rowBytes, s.Row(y), format);
        }
    }
    out.palette = ColorPalette{};
    if (IsIndexedPixelFormat(format)) {
        if (!IndicesInTable(s, d.palette.Count())) {
            s = Surface{};
            return GenericError;
        }
        out.palette = d.palette;
    }
    return Ok;
}

} // namespace dib

std::shared_ptr<Image> CreateBitmapFromGdiDib(const uint8_t* info, size_t infoSize, const uint8_t* bits,
                                              size_t bitsSize) {
    if (!info || !bits) return Image::Failed(InvalidParameter);
    dib::DibInfo d;
    if (Status s = dib::ParseInfo(info, infoSize, infoSize, d); s != Ok) return Image::Failed(s);
    Frame frame;
    bool real = false;
    if (Status s = dib::Resolution(d, frame.dpiX, frame.dpiY, real); s != Ok) return Image::Failed(s);
    if (Status s = dib::DecodeBits(d, bits, bitsSize, {}, frame); s != Ok) return Image::Failed(s);
    return Image::FromFrames(std::move(frame), ImageFormatMemoryBMP, {}, nullptr);
}

} // namespace imaging
