#include "imaging/PixelConvert.h"

#include <cstring>
#include <vector>

namespace imaging {

namespace {

inline ARGB Expand555(uint16_t v) {
    uint32_t r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
    return MakeARGB(255, uint8_t((r << 3) | (r >> 2)), uint8_t((g << 3) | (g >> 2)),
                    uint8_t((b << 3) | (b >> 2)));
}
inline ARGB Expand565(uint16_t v) {
    uint32_t r = (v >> 11) & 31, g = (v >> 5) & 63, b = v & 31;
    return MakeARGB(255, uint8_t((r << 3) | (r >> 2)), uint8_t((g << 2) | (g >> 4)),
                    uint8_t((b << 3) | (b >> 2)));
}
inline uint8_t Unpremultiply(uint8_t c, uint8_t a) {
    return a == 0 ? 0 : uint8_t(std::min(255u, (c * 255u + a / 2) / a));
}
inline uint8_t Premultiply(uint8_t c, uint8_t a) {
    return uint8_t((c * a + 127) / 255);
}
inline uint16_t Rd16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}
inline void Wr16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline ARGB PaletteEntry(const ColorPalette* pal, uint32_t i) {
    return pal && i < pal->Entries.size() ? pal->Entries[i] : 0xFF000000u;
}

} // namespace

uint32_t NearestPaletteIndex(const ColorPalette& palette, ARGB c) {
    uint32_t best = 0;
    uint64_t bestD = ~uint64_t(0);
    for (uint32_t i = 0; i < palette.Entries.size(); ++i) {
        const ARGB p = palette.Entries[i];
        const int da = int(AlphaOf(p)) - AlphaOf(c), dr = int(RedOf(p)) - RedOf(c);
        const int dg = int(GreenOf(p)) - GreenOf(c), db = int(BlueOf(p)) - BlueOf(c);
        const uint64_t d = uint64_t(dr * dr + dg * dg + db * db) + uint64_t(da * da);
        if (d < bestD) {
            bestD = d;
            best = i;
            if (d == 0) break;
        }
    }
    return best;
}

void ReadRowARGB(const uint8_t* row, PixelFormat format, const ColorPalette* palette, uint32_t x0,
                 uint32_t count, ARGB* out) {
    switch (format) {
    case PixelFormat1bppIndexed:
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t x = x0 + i;
            out[i] = PaletteEntry(palette, (row[x >> 3] >> (7 - (x & 7))) & 1);
        }
        break;
    case PixelFormat4bppIndexed:
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t x = x0 + i;
            out[i] = PaletteEntry(palette, (x & 1) ? (row[x >> 1] & 15) : (row[x >> 1] >> 4));
        }
        break;
    case PixelFormat8bppIndexed:
        for (uint32_t i = 0; i < count; ++i) out[i] = PaletteEntry(palette, row[x0 + i]);
        break;
    case PixelFormat16bppGrayScale:
        for (uint32_t i = 0; i < count; ++i) {
            uint8_t g = uint8_t(Rd16(row + 2 * (x0 + i)) >> 8);
            out[i] = MakeARGB(255, g, g, g);
        }
        break;
    case PixelFormat16bppRGB555:
        for (uint32_t i = 0; i < count; ++i) out[i] = Expand555(Rd16(row + 2 * (x0 + i)));
        break;
    case PixelFormat16bppRGB565:
        for (uint32_t i = 0; i < count; ++i) out[i] = Expand565(Rd16(row + 2 * (x0 + i)));
        break;
    case PixelFormat16bppARGB1555:
        for (uint32_t i = 0; i < count; ++i) {
            uint16_t v = Rd16(row + 2 * (x0 + i));
            out[i] = (Expand555(v) & 0x00FFFFFF) | ((v & 0x8000) ? 0xFF000000u : 0u);
        }
        break;
    case PixelFormat24bppRGB: {
        const uint8_t* p = row + 3 * size_t(x0);
        for (uint32_t i = 0; i < count; ++i, p += 3) out[i] = MakeARGB(255, p[2], p[1], p[0]);
        break;
    }
    case PixelFormat32bppRGB: {
        const uint8_t* p = row + 4 * size_t(x0);
        for (uint32_t i = 0; i < count; ++i, p += 4) out[i] = MakeARGB(255, p[2], p[1], p[0]);
        break;
    }
    case PixelFormat32bppARGB:
        std::memcpy(out, row + 4 * size_t(x0), 4 * size_t(count));
        break;
    case PixelFormat32bppPARGB: {
        const uint8_t* p = row + 4 * size_t(x0);
        for (uint32_t i = 0; i < count; ++i, p += 4) {
            uint8_t a = p[3];
            out[i] = a == 255 ? MakeARGB(255, p[2], p[1], p[0])
                              : MakeARGB(a, Unpremultiply(p[2], a), Unpremultiply(p[1], a),
                                         Unpremultiply(p[0], a));
        }
        break;
    }
    case PixelFormat48bppRGB: {
        const uint8_t* p = row + 6 * size_t(x0);
        for (uint32_t i = 0; i < count; ++i, p += 6) out[i] = MakeARGB(255, p[5], p[3], p[1]);
        break;
    }
    case PixelFormat64bppARGB: {
        const uint8_t* p = row + 8 * size_t(x0);
        for (uint32_t i = 0; i < count; ++i, p += 8) out[i] = MakeARGB(p[7], p[5], p[3], p[1]);
        break;
    }
    case PixelFormat64bppPARGB: {
        const uint8_t* p = row + 8 * size_t(x0);
        for (uint32_t i = 0; i < count; ++i, p += 8) {
            uint8_t a = p[7];
            out[i] = MakeARGB(a, Unpremultiply(p[5], a), Unpremultiply(p[3], a), Unpremultiply(p[1], a));
        }
        break;
    }
    case PixelFormat32bppCMYK: {
        const uint8_t* p = row + 4 * size_t(x0);
        for (uint32_t i = 0; i < count; ++i, p += 4) {
            uint32_t k = 255 - p[3];
            out[i] = MakeARGB(255, uint8_t((255 - p[0]) * k / 255), uint8_t((255 - p[1]) * k / 255),
                              uint8_t((255 - p[2]) * k / 255));
        }
        break;
    }
    default:
        std::memset(out, 0, 4 * size_t(count));
    }
}

void WriteRowARGB(const ARGB* in, uint32_t count, uint8_t* row, PixelFormat format,
                  const ColorPalette* palette, uint32_t x0) {
    static const ColorPalette empty;
    const ColorPalette& pal = palette ? *palette : empty;
    switch (format) {
    case PixelFormat1bppIndexed:
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t x = x0 + i, v = NearestPaletteIndex(pal, in[i]) & 1;
            uint8_t mask = uint8_t(0x80 >> (x & 7));
            row[x >> 3] = uint8_t(v ? (row[x >> 3] | mask) : (row[x >> 3] & ~mask));
        }
        break;
    case PixelFormat4bppIndexed:
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t x = x0 + i, v = NearestPaletteIndex(pal, in[i]) & 15;
            uint8_t& b = row[x >> 1];
            b = (x & 1) ? uint8_t((b & 0xF0) | v) : uint8_t((b & 0x0F) | (v << 4));
        }
        break;
    case PixelFormat8bppIndexed:
        for (uint32_t i = 0; i < count; ++i) row[x0 + i] = uint8_t(NearestPaletteIndex(pal, in[i]));
        break;
    case PixelFormat16bppGrayScale:
        for (uint32_t i = 0; i < count; ++i) {
            ARGB c = in[i];
            uint32_t g = (RedOf(c) * 299 + GreenOf(c) * 587 + BlueOf(c) * 114 + 500) / 1000;
            Wr16(row + 2 * (x0 + i), uint16_t(g * 257));
        }
        break;
    case PixelFormat16bppRGB555:
    case PixelFormat16bppARGB1555:
        for (uint32_t i = 0; i < count; ++i) {
            ARGB c = in[i];
            uint16_t v = uint16_t(((RedOf(c) >> 3) << 10) | ((GreenOf(c) >> 3) << 5) | (BlueOf(c) >> 3));
            if (format == PixelFormat16bppARGB1555 && AlphaOf(c) >= 128) v |= 0x8000;
            Wr16(row + 2 * (x0 + i), v);
        }
        break;
    case PixelFormat16bppRGB565:
        for (uint32_t i = 0; i < count; ++i) {
            ARGB c = in[i];
            Wr16(row + 2 * (x0 + i),
                 uint16_t(((RedOf(c) >> 3) << 11) | ((GreenOf(c) >> 2) << 5) | (BlueOf(c) >> 3)));
        }
        break;
    case PixelFormat24bppRGB: {
        uint8_t* p = row + 3 * size_t(x0);
        for (uint32_t i = 0; i < count; ++i, p += 3) {
            p[0] = BlueOf(in[i]);
            p[1] = GreenOf(in[i]);
            p[2] = RedOf(in[i]);
        }
        break;
    }
    case PixelFormat32bppRGB: {
        uint8_t* p = row + 4 * size_t(x0);
        for (uint32_t i = 0; i < count; ++i, p += 4) {
            p[0] = BlueOf(in[i]);
            p[1] = GreenOf(in[i]);
            p[2] = RedOf(in[i]);
            p[3] = 255;
        }
        break;
    }
    case PixelFormat32bppARGB:
        std::memcpy(row + 4 * size_t(x0), in, 4 * size_t(count));
        break;
    case PixelFormat32bppPARGB: {
        uint8_t* p = row + 4 * size_t(x0);
        for (uint32_t i = 0; i < count; ++i, p += 4) {
            uint8_t a = AlphaOf(in[i]);
            p[0] = Premultiply(BlueOf(in[i]), a);
            p[1] = Premultiply(GreenOf(in[i]), a);
            p[2] = Premultiply(RedOf(in[i]), a);
            p[3] = a;
        }
        break;
    }
    case PixelFormat48bppRGB: {
        uint8_t* p = row + 6 * size_t(x0);
        for (uint32_t i = 0; i < count; ++i, p += 6) {
            Wr16(p, uint16_t(BlueOf(in[i]) * 257));
            Wr16(p + 2, uint16_t(GreenOf(in[i]) * 257));
            Wr16(p + 4, uint16_t(RedOf(in[i]) * 257));
        }
        break;
    }
    case PixelFormat64bppARGB:
    case PixelFormat64bppPARGB: {
        uint8_t* p = row + 8 * size_t(x0);
        for (uint32_t i = 0; i < count; ++i, p += 8) {
            uint8_t a = AlphaOf(in[i]);
            bool pm = format == PixelFormat64bppPARGB;
            Wr16(p, uint16_t((pm ? Premultiply(BlueOf(in[i]), a) : BlueOf(in[i])) * 257));
            Wr16(p + 2, uint16_t((pm ? Premultiply(GreenOf(in[i]), a) : GreenOf(in[i])) * 257));
            Wr16(p + 4, uint16_t((pm ? Premultiply(RedOf(in[i]), a) : RedOf(in[i])) * 257));
            Wr16(p + 6, uint16_t(a * 257));
        }
        break;
    }
    case PixelFormat32bppCMYK: {
        uint8_t* p = row + 4 * size_t(x0);
        for (uint32_t i = 0; i < count; ++i, p += 4) {
            uint8_t r = RedOf(in[i]), g = GreenOf(in[i]), b = BlueOf(in[i]);
            uint8_t mx = std::max(r, std::max(g, b));
            uint8_t k = uint8_t(255 - mx);
            auto ink = [&](uint8_t c) {
                return mx == 0 ? uint8_t(0) : uint8_t(255 - (c * 255 + mx / 2) / mx);
            };
            p[0] = ink(r);
            p[1] = ink(g);
            p[2] = ink(b);
            p[3] = k;
        }
        break;
    }
    default:
        break;
    }
}

void ConvertRow(const uint8_t* src, PixelFormat srcFormat, const ColorPalette* srcPalette, uint32_t srcX0,
                uint8_t* dst, PixelFormat dstFormat, const ColorPalette* dstPalette, uint32_t dstX0,
                uint32_t count) {
    const uint32_t bpp = GetPixelFormatSize(srcFormat);
    if (srcFormat == dstFormat && (!IsIndexedPixelFormat(srcFormat) || srcPalette == dstPalette ||
                                   (srcPalette && dstPalette && *srcPalette == *dstPalette))) {
        if ((srcX0 * bpp) % 8 == 0 && (dstX0 * bpp) % 8 == 0 && (count * bpp) % 8 == 0) {
            std::memcpy(dst + size_t(dstX0) * bpp / 8, src + size_t(srcX0) * bpp / 8,
                        size_t(count) * bpp / 8);
            return;
        }
    }
    if (srcFormat == PixelFormat24bppRGB && dstFormat == PixelFormat32bppARGB) {
        const uint8_t* s = src + 3 * size_t(srcX0);
        uint8_t* d = dst + 4 * size_t(dstX0);
        for (uint32_t i = 0; i < count; ++i, s += 3, d += 4) {
            d[0] = s[0];
            d[1] = s[1];
            d[2] = s[2];
            d[3] = 255;
        }
        return;
    }
    if (IsIndexedPixelFormat(srcFormat) && IsIndexedPixelFormat(dstFormat) && srcPalette && dstPalette &&
        *srcPalette == *dstPalette) {
        // Same palette: carry the indices over (they fit when the palette fits the target depth).
        const uint32_t dbits = GetPixelFormatSize(dstFormat);
        if (srcPalette->Count() <= (1u << dbits)) {
            for (uint32_t i = 0; i < count; ++i) {
                uint32_t sx = srcX0 + i, dx = dstX0 + i, v;
                if (bpp == 1)
                    v = (src[sx >> 3] >> (7 - (sx & 7))) & 1;
                else if (bpp == 4)
                    v = (sx & 1) ? (src[sx >> 1] & 15) : (src[sx >> 1] >> 4);
                else
                    v = src[sx];
                if (dbits == 1) {
                    uint8_t mask = uint8_t(0x80 >> (dx & 7));
                    dst[dx >> 3] = uint8_t(v ? (dst[dx >> 3] | mask) : (dst[dx >> 3] & ~mask));
                } else if (dbits == 4) {
                    uint8_t& b = dst[dx >> 1];
                    b = (dx & 1) ? uint8_t((b & 0xF0) | v) : uint8_t((b & 0x0F) | (v << 4));
                } else {
                    dst[dx] = uint8_t(v);
                }
            }
            return;
        }
    }
    constexpr uint32_t kChunk = 256;
    ARGB tmp[kChunk];
    for (uint32_t done = 0; done < count; done += kChunk) {
        const uint32_t n = std::min(kChunk, count - done);
        ReadRowARGB(src, srcFormat, srcPalette, srcX0 + done, n, tmp);
        WriteRowARGB(tmp, n, dst, dstFormat, dstPalette, dstX0 + done);
    }
}

void ConvertRect(const Surface& src, const ColorPalette* srcPalette, const Rect& rect, uint8_t* dst,
                 int32_t dstStride, PixelFormat dstFormat, const ColorPalette* dstPalette) {
    for (int32_t y = 0; y < rect.Height; ++y)
        ConvertRow(src.Row(uint32_t(rect.Y + y)), src.format, srcPalette, uint32_t(rect.X),
                   dst + int64_t(y) * dstStride, dstFormat, dstPalette, 0, uint32_t(rect.Width));
}

ColorPalette DefaultPalette(PixelFormat format) {
    static const ARGB vga[16] = {0xFF000000, 0xFF800000, 0xFF008000, 0xFF808000, 0xFF000080, 0xFF800080,
                                 0xFF008080, 0xFF808080, 0xFFC0C0C0, 0xFFFF0000, 0xFF00FF00, 0xFFFFFF00,
                                 0xFF0000FF, 0xFFFF00FF, 0xFF00FFFF, 0xFFFFFFFF};
    ColorPalette p;
    switch (format) {
    case PixelFormat1bppIndexed:
        p.Entries = {0xFF000000, 0xFFFFFFFF};
        break;
    case PixelFormat4bppIndexed:
        p.Entries.assign(vga, vga + 16);
        break;
    case PixelFormat8bppIndexed:
        // The 16 system colours, the 6x6x6 colour cube, then a grey ramp.
        p.Flags = PaletteFlagsHalftone;
        p.Entries.assign(vga, vga + 16);
        for (int r = 0; r < 6; ++r)
            for (int g = 0; g < 6; ++g)
                for (int b = 0; b < 6; ++b)
                    p.Entries.push_back(MakeARGB(255, uint8_t(r * 51), uint8_t(g * 51), uint8_t(b * 51)));
        for (int i = 1; i <= 24; ++i) {
            uint8_t v = uint8_t(i * 255 / 25);
            p.Entries.push_back(MakeARGB(255, v, v, v));
        }
        break;
    default:
        break;
    }
    return p;
}

} // namespace imaging
