#include "imaging/PixelConvert.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

namespace imaging {

static_assert(std::endian::native == std::endian::little, "pixel words are read as little-endian");

namespace {

inline uint8_t Expand5(uint32_t v) {
    return uint8_t((v << 3) | (v >> 2));
}
inline uint8_t Expand6(uint32_t v) {
    return uint8_t((v << 2) | (v >> 4));
}
// Nearest 5- and 6-bit levels; the expanded values above round back to where they came from.
inline uint32_t To5(uint32_t c) {
    return (c * 31 + 127) / 255;
}
inline uint32_t To6(uint32_t c) {
    return (c * 63 + 127) / 255;
}
inline ARGB Expand555(uint16_t v) {
    return MakeARGB(255, Expand5((v >> 10) & 31), Expand5((v >> 5) & 31), Expand5(v & 31));
}
inline ARGB Expand565(uint16_t v) {
    return MakeARGB(255, Expand5((v >> 11) & 31), Expand6((v >> 5) & 63), Expand5(v & 31));
}
inline uint16_t Pack555(ARGB c) {
    return uint16_t((To5(RedOf(c)) << 10) | (To5(GreenOf(c)) << 5) | To5(BlueOf(c)));
}
inline uint8_t Unpremultiply(uint32_t c, uint32_t a) {
    return a == 0 ? 0 : uint8_t(std::min(255u, (c * 255u + a / 2) / a));
}
inline uint8_t Premultiply(uint32_t c, uint32_t a) {
    const uint32_t t = c * a + 128;
    return uint8_t((t + (t >> 8)) >> 8); // c * a / 255, rounded
}
inline uint8_t From16(uint32_t v) {
    return uint8_t((v * 255 + 32767) / 65535);
}
inline uint16_t Rd16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}
inline void Wr16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline uint32_t Rd32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline void Wr32(uint8_t* p, uint32_t v) {
    std::memcpy(p, &v, 4);
}
inline ARGB PaletteEntry(const ColorPalette* pal, uint32_t i) {
    return pal && i < pal->Entries.size() ? pal->Entries[i] : 0xFF000000u;
}
inline uint32_t IndexLimit(PixelFormat f) {
    return 1u << GetPixelFormatSize(f);
}

// ---- fast paths between the common formats -----------------------------------------------------

// Four pixels from three 32-bit words at a time; this is the path behind LockBits of 24-bit images
// as 32-bit, which has to run near memory speed.
void Rgb24ToRgb32(const uint8_t* s, uint8_t* d, uint32_t n) {
    uint32_t i = 0;
    for (; i + 4 <= n; i += 4, s += 12, d += 16) {
        const uint32_t w0 = Rd32(s), w1 = Rd32(s + 4), w2 = Rd32(s + 8);
        Wr32(d, w0 | 0xFF000000u);
        Wr32(d + 4, (w0 >> 24) | (w1 << 8) | 0xFF000000u);
        Wr32(d + 8, (w1 >> 16) | (w2 << 16) | 0xFF000000u);
        Wr32(d + 12, (w2 >> 8) | 0xFF000000u);
    }
    for (; i < n; ++i, s += 3, d += 4) Wr32(d, uint32_t(s[0]) | (s[1] << 8) | (s[2] << 16) | 0xFF000000u);
}

void Rgb32ToRgb24(const uint8_t* s, uint8_t* d, uint32_t n) {
    uint32_t i = 0;
    for (; i + 4 <= n; i += 4, s += 16, d += 12) {
        const uint32_t p0 = Rd32(s) & 0xFFFFFF, p1 = Rd32(s + 4) & 0xFFFFFF;
        const uint32_t p2 = Rd32(s + 8) & 0xFFFFFF, p3 = Rd32(s + 12) & 0xFFFFFF;
        Wr32(d, p0 | (p1 << 24));
        Wr32(d + 4, (p1 >> 8) | (p2 << 16));
        Wr32(d + 8, (p2 >> 16) | (p3 << 8));
    }
    for (; i < n; ++i, s += 4, d += 3) {
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
    }
}

void SetOpaque32(const uint8_t* s, uint8_t* d, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i, s += 4, d += 4) Wr32(d, Rd32(s) | 0xFF000000u);
}

void ArgbToPargb(const uint8_t* s, uint8_t* d, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i, s += 4, d += 4) {
        const uint32_t a = s[3];
        if (a == 255) {
            Wr32(d, Rd32(s));
        } else if (a == 0) {
            Wr32(d, 0);
        } else {
            d[0] = Premultiply(s[0], a);
            d[1] = Premultiply(s[1], a);
            d[2] = Premultiply(s[2], a);
            d[3] = uint8_t(a);
        }
    }
}

void PargbToArgb(const uint8_t* s, uint8_t* d, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i, s += 4, d += 4) {
        const uint32_t a = s[3];
        if (a == 255) {
            Wr32(d, Rd32(s));
        } else {
            d[0] = Unpremultiply(s[0], a);
            d[1] = Unpremultiply(s[1], a);
            d[2] = Unpremultiply(s[2], a);
            d[3] = uint8_t(a);
        }
    }
}

bool FastPath(const uint8_t* s, PixelFormat sf, uint8_t* d, PixelFormat df, uint32_t n) {
    const bool d32 = df == PixelFormat32bppARGB || df == PixelFormat32bppRGB;
    if (sf == PixelFormat24bppRGB && (d32 || df == PixelFormat32bppPARGB)) {
        Rgb24ToRgb32(s, d, n);
    } else if ((sf == PixelFormat32bppARGB || sf == PixelFormat32bppRGB) && df == PixelFormat24bppRGB) {
        Rgb32ToRgb24(s, d, n);
    } else if (sf == PixelFormat32bppRGB && (d32 || df == PixelFormat32bppPARGB)) {
        SetOpaque32(s, d, n);
    } else if (sf == PixelFormat32bppARGB && df == PixelFormat32bppRGB) {
        SetOpaque32(s, d, n);
    } else if (sf == PixelFormat32bppARGB && df == PixelFormat32bppPARGB) {
        ArgbToPargb(s, d, n);
    } else if (sf == PixelFormat32bppPARGB && df == PixelFormat32bppARGB) {
        PargbToArgb(s, d, n);
    } else {
        return false;
    }
    return true;
}

// Writes ARGB into a row; indexed formats take their indices from `mapper`.
void WriteRow(const ARGB* in, uint32_t count, uint8_t* row, PixelFormat format, PaletteMapper* mapper,
              uint32_t x0) {
    switch (format) {
    case PixelFormat1bppIndexed:
    case PixelFormat4bppIndexed:
    case PixelFormat8bppIndexed: {
        const uint32_t bpp = GetPixelFormatSize(format);
        for (uint32_t i = 0; i < count; ++i) SetIndex(row, bpp, x0 + i, mapper ? mapper->Nearest(in[i]) : 0);
        break;
    }
    case PixelFormat16bppGrayScale:
        for (uint32_t i = 0; i < count; ++i) {
            const ARGB c = in[i];
            const uint32_t g = (RedOf(c) * 299 + GreenOf(c) * 587 + BlueOf(c) * 114 + 500) / 1000;
            Wr16(row + 2 * (size_t(x0) + i), uint16_t(g * 257));
        }
        break;
    case PixelFormat16bppRGB555:
        for (uint32_t i = 0; i < count; ++i) Wr16(row + 2 * (size_t(x0) + i), Pack555(in[i]));
        break;
    case PixelFormat16bppARGB1555:
        for (uint32_t i = 0; i < count; ++i)
            Wr16(row + 2 * (size_t(x0) + i), uint16_t(Pack555(in[i]) | (AlphaOf(in[i]) >= 128 ? 0x8000 : 0)));
        break;
    case PixelFormat16bppRGB565:
        for (uint32_t i = 0; i < count; ++i) {
            const ARGB c = in[i];
            Wr16(row + 2 * (size_t(x0) + i),
                 uint16_t((To5(RedOf(c)) << 11) | (To6(GreenOf(c)) << 5) | To5(BlueOf(c))));
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
    case PixelFormat32bppRGB:
        SetOpaque32(reinterpret_cast<const uint8_t*>(in), row + 4 * size_t(x0), count);
        break;
    case PixelFormat32bppARGB:
        std::memcpy(row + 4 * size_t(x0), in, 4 * size_t(count));
        break;
    case PixelFormat32bppPARGB:
        ArgbToPargb(reinterpret_cast<const uint8_t*>(in), row + 4 * size_t(x0), count);
        break;
    case PixelFormat48bppRGB: {
        uint8_t* p = row + 6 * size_t(x0);
        for (uint32_t i = 0; i < count; ++i, p += 6) {
            Wr16(p, uint16_t(BlueOf(in[i]) * 257));
            Wr16(p + 2, uint16_t(GreenOf(in[i]) * 257));
            Wr16(p + 4, uint16_t(RedOf(in[i]) * 257));
        }
        break;
    }
    case PixelFormat64bppARGB: {
        uint8_t* p = row + 8 * size_t(x0);
        for (uint32_t i = 0; i < count; ++i, p += 8) {
            Wr16(p, uint16_t(BlueOf(in[i]) * 257));
            Wr16(p + 2, uint16_t(GreenOf(in[i]) * 257));
            Wr16(p + 4, uint16_t(RedOf(in[i]) * 257));
            Wr16(p + 6, uint16_t(AlphaOf(in[i]) * 257));
        }
        break;
    }
    case PixelFormat64bppPARGB: {
        // Premultiplied at 16 bits, so that little alpha keeps more of the colour than 8 bits would.
        uint8_t* p = row + 8 * size_t(x0);
        for (uint32_t i = 0; i < count; ++i, p += 8) {
            const uint64_t a = AlphaOf(in[i]) * 257u;
            auto pm = [a](uint32_t c) { return uint16_t((uint64_t(c) * 257u * a + 32767) / 65535); };
            Wr16(p, pm(BlueOf(in[i])));
            Wr16(p + 2, pm(GreenOf(in[i])));
            Wr16(p + 4, pm(RedOf(in[i])));
            Wr16(p + 6, uint16_t(a));
        }
        break;
    }
    case PixelFormat32bppCMYK: {
        uint8_t* p = row + 4 * size_t(x0);
        for (uint32_t i = 0; i < count; ++i, p += 4) {
            const uint32_t r = RedOf(in[i]), g = GreenOf(in[i]), b = BlueOf(in[i]);
            const uint32_t mx = std::max(r, std::max(g, b));
            auto ink = [mx](uint32_t c) {
                return mx == 0 ? uint8_t(0) : uint8_t(255 - (c * 255 + mx / 2) / mx);
            };
            p[0] = ink(r);
            p[1] = ink(g);
            p[2] = ink(b);
            p[3] = uint8_t(255 - mx);
        }
        break;
    }
    default:
        break;
    }
}

// Everything one ConvertRows call needs about its two palettes, worked out once.
struct RowPlan {
    bool copyBytes = false; // same bytes on both sides
    bool indexToIndex = false;
    uint8_t remap[256] = {}; // source index -> target index
    bool indexToColour = false;
    ARGB colours[256] = {}; // source index -> colour
    PaletteMapper* mapper = nullptr;
};

void ConvertPlanned(const RowPlan& plan, const uint8_t* src, PixelFormat sf, const ColorPalette* sp,
                    uint32_t sx0, uint8_t* dst, PixelFormat df, uint32_t dx0, uint32_t count) {
    const uint32_t sbpp = GetPixelFormatSize(sf), dbpp = GetPixelFormatSize(df);
    if (plan.copyBytes && (uint64_t(sx0) * sbpp) % 8 == 0 && (uint64_t(dx0) * dbpp) % 8 == 0 &&
        (uint64_t(count) * sbpp) % 8 == 0) {
        std::memmove(dst + size_t(dx0) * dbpp / 8, src + size_t(sx0) * sbpp / 8, size_t(count) * sbpp / 8);
        return;
    }
    if (plan.indexToIndex) {
        if (sbpp == 8 && dbpp == 8) {
            for (uint32_t i = 0; i < count; ++i) dst[dx0 + i] = plan.remap[src[sx0 + i]];
        } else {
            for (uint32_t i = 0; i < count; ++i)
                SetIndex(dst, dbpp, dx0 + i, plan.remap[GetIndex(src, sbpp, sx0 + i)]);
        }
        return;
    }
    if (sbpp % 8 == 0 && dbpp % 8 == 0 &&
        FastPath(src + size_t(sx0) * sbpp / 8, sf, dst + size_t(dx0) * dbpp / 8, df, count))
        return;

    constexpr uint32_t kChunk = 256;
    ARGB tmp[kChunk];
    for (uint32_t done = 0; done < count; done += kChunk) {
        const uint32_t n = std::min(kChunk, count - done);
        if (plan.indexToColour) {
            for (uint32_t i = 0; i < n; ++i) tmp[i] = plan.colours[GetIndex(src, sbpp, sx0 + done + i)];
        } else {
            ReadRowARGB(src, sf, sp, sx0 + done, n, tmp);
        }
        if (df == PixelFormat32bppARGB)
            std::memcpy(dst + 4 * (size_t(dx0) + done), tmp, 4 * size_t(n));
        else
            WriteRow(tmp, n, dst, df, plan.mapper, dx0 + done);
    }
}

bool SamePalette(const ColorPalette* a, const ColorPalette* b) {
    return a == b || (a && b && a->Entries == b->Entries);
}

} // namespace

// ---- nearest palette entry ---------------------------------------------------------------------

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

PaletteMapper::PaletteMapper(const ColorPalette* palette, uint32_t limit, int32_t skip) {
    const uint32_t n = palette ? std::min<uint32_t>(palette->Count(), limit) : 0;
    byGreen_.reserve(n);
    for (uint32_t i = 0; i < n; ++i) {
        if (int32_t(i) == skip) continue;
        const ARGB c = palette->Entries[i];
        byGreen_.push_back({AlphaOf(c), RedOf(c), GreenOf(c), BlueOf(c), i});
    }
    std::stable_sort(byGreen_.begin(), byGreen_.end(),
                     [](const Candidate& x, const Candidate& y) { return x.g < y.g; });
}

uint32_t PaletteMapper::Search(ARGB c) const {
    if (byGreen_.empty()) return 0;
    const int a = AlphaOf(c), r = RedOf(c), g = GreenOf(c), b = BlueOf(c);
    uint64_t bestD = ~uint64_t(0);
    uint32_t best = 0;
    auto consider = [&](const Candidate& e) {
        const int da = e.a - a, dr = e.r - r, dg = e.g - g, db = e.b - b;
        const uint64_t d = uint64_t(dr * dr + dg * dg + db * db + da * da);
        if (d < bestD || (d == bestD && e.index < best)) {
            bestD = d;
            best = e.index;
        }
    };
    // Walk outwards from the candidates of the same green; once the green difference alone is
    // farther than the best so far, nothing further in that direction can win.
    const size_t n = byGreen_.size();
    size_t up = size_t(std::lower_bound(byGreen_.begin(), byGreen_.end(), g,
                                        [](const Candidate& e, int v) { return e.g < v; }) -
                       byGreen_.begin());
    size_t down = up; // next one below is down - 1
    bool goUp = up<n, goDown = down> 0;
    while (goUp || goDown) {
        if (goUp) {
            const int dg = byGreen_[up].g - g;
            if (uint64_t(dg * dg) > bestD) {
                goUp = false;
            } else {
                consider(byGreen_[up]);
                goUp = ++up < n;
            }
        }
        if (goDown) {
            const int dg = byGreen_[down - 1].g - g;
            if (uint64_t(dg * dg) > bestD) {
                goDown = false;
            } else {
                consider(byGreen_[down - 1]);
                goDown = --down > 0;
            }
        }
    }
    return best;
}

uint32_t PaletteMapper::Nearest(ARGB c) {
    if (byGreen_.empty()) return 0;
    if (cache_.empty()) cache_.assign(4096, 0); // only mappers that get used pay for it
    uint64_t& slot = cache_[(c * 0x9E3779B1u) >> 20];
    if ((slot & 0xFFFFFFFFu) != 0 && uint32_t(slot >> 32) == c) return uint32_t(slot) - 1;
    const uint32_t i = Search(c);
    slot = (uint64_t(c) << 32) | (i + 1);
    return i;
}

// ---- rows ----------------------------------------------------------------------------------------

void ReadRowARGB(const uint8_t* row, PixelFormat format, const ColorPalette* palette, uint32_t x0,
                 uint32_t count, ARGB* out) {
    switch (format) {
    case PixelFormat1bppIndexed:
    case PixelFormat4bppIndexed:
    case PixelFormat8bppIndexed: {
        const uint32_t bpp = GetPixelFormatSize(format);
        for (uint32_t i = 0; i < count; ++i) out[i] = PaletteEntry(palette, GetIndex(row, bpp, x0 + i));
        break;
    }
    case PixelFormat16bppGrayScale:
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t g = From16(Rd16(row + 2 * (size_t(x0) + i)));
            out[i] = MakeARGB(255, g, g, g);
        }
        break;
    case PixelFormat16bppRGB555:
        for (uint32_t i = 0; i < count; ++i) out[i] = Expand555(Rd16(row + 2 * (size_t(x0) + i)));
        break;
    case PixelFormat16bppRGB565:
        for (uint32_t i = 0; i < count; ++i) out[i] = Expand565(Rd16(row + 2 * (size_t(x0) + i)));
        break;
    case PixelFormat16bppARGB1555:
        for (uint32_t i = 0; i < count; ++i) {
            const uint16_t v = Rd16(row + 2 * (size_t(x0) + i));
            out[i] = (Expand555(v) & 0x00FFFFFF) | ((v & 0x8000) ? 0xFF000000u : 0u);
        }
        break;
    case PixelFormat24bppRGB: {
        const uint8_t* p = row + 3 * size_t(x0);
        for (uint32_t i = 0; i < count; ++i, p += 3) out[i] = MakeARGB(255, p[2], p[1], p[0]);
        break;
    }
    case PixelFormat32bppRGB:
        SetOpaque32(row + 4 * size_t(x0), reinterpret_cast<uint8_t*>(out), count);
        break;
    case PixelFormat32bppARGB:
        std::memcpy(out, row + 4 * size_t(x0), 4 * size_t(count));
        break;
    case PixelFormat32bppPARGB:
        PargbToArgb(row + 4 * size_t(x0), reinterpret_cast<uint8_t*>(out), count);
        break;
    case PixelFormat48bppRGB: {
        const uint8_t* p = row + 6 * size_t(x0);
        for (uint32_t i = 0; i < count; ++i, p += 6)
            out[i] = MakeARGB(255, From16(Rd16(p + 4)), From16(Rd16(p + 2)), From16(Rd16(p)));
        break;
    }
    case PixelFormat64bppARGB: {
        const uint8_t* p = row + 8 * size_t(x0);
        for (uint32_t i = 0; i < count; ++i, p += 8)
            out[i] = MakeARGB(From16(Rd16(p + 6)), From16(Rd16(p + 4)), From16(Rd16(p + 2)), From16(Rd16(p)));
        break;
    }
    case PixelFormat64bppPARGB: {
        const uint8_t* p = row + 8 * size_t(x0);
        for (uint32_t i = 0; i < count; ++i, p += 8) {
            const uint32_t a = Rd16(p + 6);
            auto un = [a](uint32_t c) {
                return a == 0
                           ? uint8_t(0)
                           : From16(uint32_t(std::min<uint64_t>(65535, (uint64_t(c) * 65535 + a / 2) / a)));
            };
            out[i] = MakeARGB(From16(a), un(Rd16(p + 4)), un(Rd16(p + 2)), un(Rd16(p)));
        }
        break;
    }
    case PixelFormat32bppCMYK: {
        const uint8_t* p = row + 4 * size_t(x0);
        for (uint32_t i = 0; i < count; ++i, p += 4) {
            const uint32_t k = 255 - p[3];
            out[i] =
                MakeARGB(255, uint8_t(((255 - p[0]) * k + 127) / 255),
                         uint8_t(((255 - p[1]) * k + 127) / 255), uint8_t(((255 - p[2]) * k + 127) / 255));
        }
        break;
    }
    default:
        std::memset(out, 0, 4 * size_t(count));
    }
}

void WriteRowARGB(const ARGB* in, uint32_t count, uint8_t* row, PixelFormat format,
                  const ColorPalette* palette, uint32_t x0) {
    if (IsIndexedPixelFormat(format)) {
        PaletteMapper mapper(palette, IndexLimit(format));
        WriteRow(in, count, row, format, &mapper, x0);
    } else {
        WriteRow(in, count, row, format, nullptr, x0);
    }
}

void ConvertRows(const uint8_t* src, int32_t srcStride, PixelFormat srcFormat, const ColorPalette* srcPalette,
                 uint32_t srcX0, uint8_t* dst, int32_t dstStride, PixelFormat dstFormat,
                 const ColorPalette* dstPalette, uint32_t dstX0, uint32_t count, uint32_t height) {
    if (count == 0 || height == 0) return;
    const bool srcIndexed = IsIndexedPixelFormat(srcFormat), dstIndexed = IsIndexedPixelFormat(dstFormat);
    RowPlan plan;
    plan.copyBytes = srcFormat == dstFormat && (!srcIndexed || SamePalette(srcPalette, dstPalette));
    std::unique_ptr<PaletteMapper> mapper;
    if (dstIndexed && !plan.copyBytes) {
        mapper = std::make_unique<PaletteMapper>(dstPalette, IndexLimit(dstFormat));
        plan.mapper = mapper.get();
    }
    if (srcIndexed) {
        const uint32_t n = IndexLimit(srcFormat);
        if (dstIndexed) {
            // Equal palettes keep their indices (duplicate entries stay apart); anything else, and
            // indices the target cannot hold, go to the nearest target entry.
            const bool same = SamePalette(srcPalette, dstPalette);
            const uint32_t keep =
                same ? std::min<uint32_t>(srcPalette ? srcPalette->Count() : 0, IndexLimit(dstFormat)) : 0;
            plan.indexToIndex = true;
            for (uint32_t i = 0; i < n; ++i)
                plan.remap[i] = uint8_t(
                    i < keep ? i : (plan.mapper ? plan.mapper->Nearest(PaletteEntry(srcPalette, i)) : i));
        } else {
            plan.indexToColour = true;
            for (uint32_t i = 0; i < n; ++i) plan.colours[i] = PaletteEntry(srcPalette, i);
        }
    }
    for (uint32_t y = 0; y < height; ++y)
        ConvertPlanned(plan, src + int64_t(y) * srcStride, srcFormat, srcPalette, srcX0,
                       dst + int64_t(y) * dstStride, dstFormat, dstX0, count);
}

void ConvertRow(const uint8_t* src, PixelFormat srcFormat, const ColorPalette* srcPalette, uint32_t srcX0,
                uint8_t* dst, PixelFormat dstFormat, const ColorPalette* dstPalette, uint32_t dstX0,
                uint32_t count) {
    ConvertRows(src, 0, srcFormat, srcPalette, srcX0, dst, 0, dstFormat, dstPalette, dstX0, count, 1);
}

void ConvertRect(const Surface& src, const ColorPalette* srcPalette, const Rect& rect, uint8_t* dst,
                 int32_t dstStride, PixelFormat dstFormat, const ColorPalette* dstPalette) {
    if (rect.Width <= 0 || rect.Height <= 0) return;
    ConvertRows(src.Row(uint32_t(rect.Y)), src.stride, src.format, srcPalette, uint32_t(rect.X), dst,
                dstStride, dstFormat, dstPalette, 0, uint32_t(rect.Width), uint32_t(rect.Height));
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
