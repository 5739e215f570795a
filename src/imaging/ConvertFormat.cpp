#include "imaging/Image.h"
#include "imaging/PixelConvert.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

namespace imaging {

namespace {

constexpr ARGB kTransparent = 0x00000000;

// ---- fixed palettes ------------------------------------------------------------------------------

const ARGB kSystemColours[16] = {0xFF000000, 0xFF800000, 0xFF008000, 0xFF808000, 0xFF000080, 0xFF800080,
                                 0xFF008080, 0xFF808080, 0xFFC0C0C0, 0xFFFF0000, 0xFF00FF00, 0xFFFFFF00,
                                 0xFF0000FF, 0xFFFF00FF, 0xFF00FFFF, 0xFFFFFFFF};

uint8_t Level(int i, int n) {
    return uint8_t((i * 255 * 2 + (n - 1)) / (2 * (n - 1)));
}

void AddCube(ColorPalette& p, int nr, int ng, int nb, bool skipCorners) {
    for (int r = 0; r < nr; ++r)
        for (int g = 0; g < ng; ++g)
            for (int b = 0; b < nb; ++b) {
                const uint8_t R = Level(r, nr), G = Level(g, ng), B = Level(b, nb);
                // The eight corners are system colours already.
                if (skipCorners && (R == 0 || R == 255) && (G == 0 || G == 255) && (B == 0 || B == 255))
                    continue;
                p.Entries.push_back(MakeARGB(255, R, G, B));
            }
}

// The platform's fixed palettes: the system colours plus an n x n x n cube (35, 72, 133 and 224
// entries for 27 to 216), or a plain cube of 252 (6x7x6) or 256 (8x8x4) colours.
ColorPalette FixedPalette(PaletteType type) {
    ColorPalette p;
    if (type == PaletteTypeFixedBW) {
        p.Flags = PaletteFlagsGrayScale;
        p.Entries = {0xFF000000, 0xFFFFFFFF};
        return p;
    }
    p.Flags = PaletteFlagsHalftone;
    const int cube[] = {2, 3, 4, 5, 6}; // FixedHalftone8 .. FixedHalftone216
    if (type >= PaletteTypeFixedHalftone8 && type <= PaletteTypeFixedHalftone216) {
        p.Entries.assign(kSystemColours, kSystemColours + 16);
        const int n = cube[type - PaletteTypeFixedHalftone8];
        AddCube(p, n, n, n, true);
    } else if (type == PaletteTypeFixedHalftone252) {
        AddCube(p, 6, 7, 6, false);
    } else {
        AddCube(p, 8, 8, 4, false);
    }
    return p;
}

// ---- optimal palette ---------------------------------------------------------------------------

// The distinct colours of an image while there are at most `limit` of them.
class ExactColours {
  public:
    explicit ExactColours(uint32_t limit) : limit_(limit), slots_(2048, 0), used_(2048, false) {}
    bool Overflowed() const { return overflow_; }
    const std::vector<ARGB>& Colours() const { return colours_; }
    void Add(ARGB c) {
        if (overflow_) return;
        size_t i = (c * 0x9E3779B1u) >> 21;
        while (used_[i]) {
            if (slots_[i] == c) return;
            i = (i + 1) & 2047;
        }
        if (colours_.size() == limit_) {
            overflow_ = true;
            return;
        }
        used_[i] = true;
        slots_[i] = c;
        colours_.push_back(c);
    }

  private:
    uint32_t limit_;
    std::vector<ARGB> slots_;
    std::vector<bool> used_;
    std::vector<ARGB> colours_;
    bool overflow_ = false;
};

// Median cut over a 5-bit-per-channel histogram; the entries are the means of the real colours
// that fell into each box.
class MedianCut {
  public:
    MedianCut() : bins_(kBins) {}
    void Add(ARGB c) {
        Bin& b = bins_[Key(RedOf(c) >> 3, GreenOf(c) >> 3, BlueOf(c) >> 3)];
        ++b.count;
        b.r += RedOf(c);
        b.g += GreenOf(c);
        b.b += BlueOf(c);
    }
    std::vector<ARGB> Palette(uint32_t colours) const {
        std::vector<Box> boxes;
        Box all{{0, 0, 0}, {31, 31, 31}, 0};
        if (!Shrink(all)) return {};
        boxes.push_back(all);
        while (boxes.size() < colours) {
            // Split the box with the most pixels times its longest side.
            size_t pick = boxes.size();
            uint64_t best = 0;
            for (size_t i = 0; i < boxes.size(); ++i) {
                const int axis = boxes[i].LongestAxis();
                const uint64_t score = boxes[i].count * uint64_t(boxes[i].hi[axis] - boxes[i].lo[axis]);
                if (score > best) {
                    best = score;
                    pick = i;
                }
            }
            if (pick == boxes.size()) break; // every box is a single bin
            Box a = boxes[pick], b;
            if (!Split(a, b)) break;
            boxes[pick] = a;
            boxes.push_back(b);
        }
        std::vector<ARGB> out;
        for (const Box& box : boxes) {
            uint64_t n = 0, r = 0, g = 0, bl = 0;
            ForEach(box, [&](const Bin& bin, int, int, int) {
                n += bin.count;
                r += bin.r;
                g += bin.g;
                bl += bin.b;
            });
            if (n)
                out.push_back(MakeARGB(255, uint8_t((r + n / 2) / n), uint8_t((g + n / 2) / n),
                                       uint8_t((bl + n / 2) / n)));
        }
        return out;
    }

  private:
    static constexpr size_t kBins = 32 * 32 * 32;
    struct Bin {
        uint64_t count = 0, r = 0, g = 0, b = 0;
    };
    struct Box {
        int lo[3], hi[3];
        uint64_t count;
        int LongestAxis() const {
            int a = 0;
            for (int i = 1; i < 3; ++i)
                if (hi[i] - lo[i] > hi[a] - lo[a]) a = i;
            return a;
        }
    };
    static size_t Key(int r, int g, int b) { return (size_t(r) << 10) | (size_t(g) << 5) | size_t(b); }

    template <class F> void ForEach(const Box& box, F f) const {
        for (int r = box.lo[0]; r <= box.hi[0]; ++r)
            for (int g = box.lo[1]; g <= box.hi[1]; ++g)
                for (int b = box.lo[2]; b <= box.hi[2]; ++b) {
                    const Bin& bin = bins_[Key(r, g, b)];
                    if (bin.count) f(bin, r, g, b);
                }
    }
    // Tightens the box around its occupied bins; false when it holds none.
    bool Shrink(Box& box) const {
        int lo[3] = {31, 31, 31}, hi[3] = {0, 0, 0};
        uint64_t n = 0;
        ForEach(box, [&](const Bin& bin, int r, int g, int b) {
            const int v[3] = {r, g, b};
            for (int i = 0; i < 3; ++i) {
                lo[i] = std::min(lo[i], v[i]);
                hi[i] = std::max(hi[i], v[i]);
            }
            n += bin.count;
        });
        if (!n) return false;
        std::copy(lo, lo + 3, box.lo);
        std::copy(hi, hi + 3, box.hi);
        box.count = n;
        return true;
    }
    // Cuts `a` at the weighted median of its longest side; `b` gets the upper part.
    bool Split(Box& a, Box& b) const {
        const int axis = a.LongestAxis();
        std::array<uint64_t, 32> plane{};
        ForEach(a, [&](const Bin& bin, int r, int g, int bl) {
            const int v[3] = {r, g, bl};
            plane[size_t(v[axis])] += bin.count;
        });
        uint64_t acc = 0;
        int cut = a.lo[axis];
        for (int v = a.lo[axis]; v < a.hi[axis]; ++v) {
            acc += plane[size_t(v)];
            cut = v;
            if (2 * acc >= a.count) break;
        }
        b = a;
        a.hi[axis] = cut;
        b.lo[axis] = cut + 1;
        return Shrink(a) && Shrink(b);
    }

    std::vector<Bin> bins_;
};

// ---- dithering -----------------------------------------------------------------------------------

int BayerSize(DitherType d) {
    switch (d) {
    case DitherTypeOrdered4x4:
    case DitherTypeSpiral4x4:
    case DitherTypeDualSpiral4x4:
        return 4;
    case DitherTypeOrdered8x8:
    case DitherTypeSpiral8x8:
    case DitherTypeDualSpiral8x8:
        return 8;
    case DitherTypeOrdered16x16:
        return 16;
    default:
        return 0;
    }
}

// Rank of (x, y) in the Bayer matrix of size n (a power of two): M(2n) = 4 M(n) + M(2) with
// M(2) = [0 2; 3 1], so the coarsest bit pair weighs least.
int BayerRank(int x, int y, int n) {
    int v = 0;
    for (int s = n >> 1, weight = 1; s; s >>= 1, weight *= 4) {
        const int xb = (x & s) ? 1 : 0, yb = (y & s) ? 1 : 0;
        v += weight * (((xb ^ yb) << 1) | yb);
    }
    return v;
}

// How far apart the palette's levels lie in each channel, on average: the amplitude that ordered
// dithering needs to move a colour between neighbouring entries.
std::array<float, 3> LevelSpacing(const std::vector<ARGB>& entries) {
    std::array<float, 3> gap{};
    for (int ch = 0; ch < 3; ++ch) {
        bool seen[256] = {};
        for (ARGB c : entries) seen[(c >> (16 - 8 * ch)) & 0xFF] = true;
        int first = -1, last = -1, levels = 0;
        for (int v = 0; v < 256; ++v)
            if (seen[v]) {
                if (first < 0) first = v;
                last = v;
                ++levels;
            }
        gap[size_t(ch)] = levels > 1 ? float(last - first) / float(levels - 1) : 0.0f;
    }
    return gap;
}

inline int Clamp255(int v) {
    return v < 0 ? 0 : (v > 255 ? 255 : v);
}
// A diffused error in 1/16 units, rounded half away from zero.
inline int Sixteenths(int32_t e) {
    return e >= 0 ? (e + 8) / 16 : -((8 - e) / 16);
}

} // namespace

Status Image::ConvertFormat(PixelFormat format, DitherType ditherType, PaletteType paletteType,
                            const ColorPalette* palette, float alphaThresholdPercent) {
    if (type_ != ImageTypeBitmap || frame_.pixels.Empty()) return SetStatus(InvalidParameter);
    if (lock_) return SetStatus(WrongState);
    if (!IsValidPixelFormat(format) || ditherType < DitherTypeNone || ditherType > DitherTypeMax ||
        paletteType < PaletteTypeCustom || paletteType > PaletteTypeFixedHalftone256 ||
        !(alphaThresholdPercent >= 0 && alphaThresholdPercent <= 100))
        return SetStatus(InvalidParameter);

    const Surface& src = frame_.pixels;
    const PixelFormat from = src.format;
    const ColorPalette* srcPal = IsIndexedPixelFormat(from) ? &frame_.palette : nullptr;
    const uint32_t w = src.width, h = src.height;

    if (!IsIndexedPixelFormat(format)) {
        if (format == from) return Ok;
        Surface out;
        if (Status s = out.Allocate(w, h, format, true); s != Ok) return SetStatus(s);
        ConvertRect(src, srcPal, Rect{0, 0, int32_t(w), int32_t(h)}, out.data.get(), out.stride, format,
                    nullptr);
        frame_.pixels = std::move(out);
        frame_.palette = ColorPalette{};
        return Ok;
    }

    const uint32_t limit = 1u << GetPixelFormatSize(format);
    if (format == from &&
        (paletteType == PaletteTypeOptimal || (paletteType == PaletteTypeCustom && !palette)) &&
        frame_.palette.Count() <= limit)
        return Ok;

    try {
        // Pixels below the threshold become the transparent entry, if the palette has one.
        const double cutoff = double(alphaThresholdPercent) * 255.0 / 100.0;
        auto below = [cutoff](ARGB c) { return double(AlphaOf(c)) < cutoff; };
        std::vector<ARGB> row(w);
        auto readRow = [&](uint32_t y) { ReadRowARGB(src.Row(y), from, srcPal, 0, w, row.data()); };

        ColorPalette target;
        bool anyBelow = false;
        if (paletteType == PaletteTypeCustom) {
            const ColorPalette* given = palette ? palette : srcPal;
            if (!given || given->Count() == 0 || given->Count() > limit) return SetStatus(InvalidParameter);
            target = *given;
        } else if (paletteType == PaletteTypeOptimal) {
            uint32_t colours = limit;
            if (palette) {
                if (palette->Count() == 0 || palette->Count() > limit) return SetStatus(InvalidParameter);
                colours = palette->Count();
            }
            ExactColours exact(colours);
            auto cut = std::make_unique<MedianCut>();
            for (uint32_t y = 0; y < h; ++y) {
                readRow(y);
                for (ARGB c : row) {
                    if (below(c)) {
                        anyBelow = true;
                        continue;
                    }
                    exact.Add(c);
                    cut->Add(c);
                }
            }
            const uint32_t room = anyBelow ? colours - 1 : colours;
            if (!exact.Overflowed() && exact.Colours().size() <= room) {
                target.Entries = exact.Colours(); // few enough colours: keep them all exactly
            } else if (room > 0) {
                target.Entries = cut->Palette(room);
            }
            if (anyBelow) target.Entries.push_back(kTransparent);
            if (target.Entries.empty()) target.Entries.push_back(0xFF000000);
        } else {
            target = FixedPalette(paletteType);
            if (target.Count() > limit) return SetStatus(InvalidParameter);
            if (cutoff > 0 && target.Count() < limit) {
                for (uint32_t y = 0; y < h && !anyBelow; ++y) {
                    readRow(y);
                    anyBelow = std::any_of(row.begin(), row.end(), below);
                }
                if (anyBelow) target.Entries.push_back(kTransparent);
            }
        }

        int32_t transparent = -1;
        if (cutoff > 0)
            for (uint32_t i = 0; i < target.Count(); ++i)
                if (AlphaOf(target.Entries[i]) == 0) {
                    transparent = int32_t(i);
                    break;
                }
        if (std::any_of(target.Entries.begin(), target.Entries.end(),
                        [](ARGB c) { return AlphaOf(c) != 255; }))
            target.Flags |= PaletteFlagsHasAlpha;

        Surface out;
        if (Status s = out.Allocate(w, h, format, true); s != Ok) return SetStatus(s);
        if (srcPal && cutoff == 0 && target.Entries == srcPal->Entries) {
            // Onto the image's own palette: the indices carry over, duplicate entries included.
            ConvertRect(src, srcPal, Rect{0, 0, int32_t(w), int32_t(h)}, out.data.get(), out.stride, format,
                        &target);
            frame_.pixels = std::move(out);
            frame_.palette = std::move(target);
            return Ok;
        }
        PaletteMapper mapper(&target, limit, transparent);
        const uint32_t bpp = GetPixelFormatSize(format);
        const int bayer = BayerSize(ditherType);
        const bool diffuse = ditherType == DitherTypeErrorDiffusion || ditherType == DitherTypeMax;
        std::vector<ARGB> opaque = target.Entries;
        if (transparent >= 0) opaque.erase(opaque.begin() + transparent);
        const std::array<float, 3> gap = LevelSpacing(opaque);
        // Floyd-Steinberg errors in 1/16 units, for this row and the next, with a guard pixel each side.
        std::vector<int32_t> errNow, errNext;
        if (diffuse) {
            errNow.assign(3 * (size_t(w) + 2), 0);
            errNext.assign(3 * (size_t(w) + 2), 0);
        }

        for (uint32_t y = 0; y < h; ++y) {
            readRow(y);
            uint8_t* dst = out.Row(y);
            for (uint32_t x = 0; x < w; ++x) {
                const ARGB c = row[x];
                uint32_t index;
                if (transparent >= 0 && below(c)) {
                    index = uint32_t(transparent);
                } else if (bayer) {
                    const float t =
                        (float(BayerRank(int(x), int(y), bayer)) + 0.5f) / float(bayer * bayer) - 0.5f;
                    const int r = Clamp255(int(std::lround(RedOf(c) + t * gap[0])));
                    const int g = Clamp255(int(std::lround(GreenOf(c) + t * gap[1])));
                    const int b = Clamp255(int(std::lround(BlueOf(c) + t * gap[2])));
                    index = mapper.Nearest(MakeARGB(AlphaOf(c), uint8_t(r), uint8_t(g), uint8_t(b)));
                } else if (diffuse) {
                    int32_t* e = &errNow[3 * (size_t(x) + 1)];
                    const int r = Clamp255(RedOf(c) + Sixteenths(e[0]));
                    const int g = Clamp255(GreenOf(c) + Sixteenths(e[1]));
                    const int b = Clamp255(BlueOf(c) + Sixteenths(e[2]));
                    index = mapper.Nearest(MakeARGB(AlphaOf(c), uint8_t(r), uint8_t(g), uint8_t(b)));
                    const ARGB p = target.Entries[index];
                    const int err[3] = {r - RedOf(p), g - GreenOf(p), b - BlueOf(p)};
                    int32_t* below3 = &errNext[3 * (size_t(x) + 1)];
                    for (int ch = 0; ch < 3; ++ch) {
                        e[3 + ch] += err[ch] * 7;
                        below3[ch - 3] += err[ch] * 3;
                        below3[ch] += err[ch] * 5;
                        below3[ch + 3] += err[ch];
                    }
                } else {
                    index = mapper.Nearest(c);
                }
                if (bpp == 8)
                    dst[x] = uint8_t(index);
                else
                    SetIndex(dst, bpp, x, index);
            }
            if (diffuse) {
                errNow.swap(errNext);
                std::fill(errNext.begin(), errNext.end(), 0);
            }
        }

        frame_.pixels = std::move(out);
        frame_.palette = std::move(target);
        return Ok;
    } catch (const std::bad_alloc&) {
        return SetStatus(OutOfMemory);
    }
}

} // namespace imaging
