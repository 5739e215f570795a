#pragma once
/// The drawing's arithmetic for one pixel, shared by Graphics and by the operations that reproduce
/// its results with loops of their own: straight ARGB to premultiplied floats and back, source-over,
/// a sample covering part of a pixel, and that coverage along the edges of a turned rectangle.

#include "imaging/Types.h"

#include <algorithm>
#include <cstdint>

namespace imaging::pixel {

struct Premul {
    float r, g, b, a;
};

inline Premul ToPremul(uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
    constexpr float k = 1.0f / 255.0f;
    const float fa = float(a) * k, ka = fa * k;
    return {float(r) * ka, float(g) * ka, float(b) * ka, fa};
}

inline Premul ToPremul(ARGB c) {
    return ToPremul(RedOf(c), GreenOf(c), BlueOf(c), AlphaOf(c));
}

inline uint8_t ToByte(float v) {
    return uint8_t(std::clamp(v, 0.0f, 1.0f) * 255.0f + 0.5f);
}

/// Source-over of a straight ARGB pixel.
inline ARGB Over(ARGB s, ARGB d) {
    const uint32_t sa = AlphaOf(s);
    if (sa == 255) return s;
    if (sa == 0) return d;
    const float fa = sa / 255.0f, fd = AlphaOf(d) / 255.0f * (1.0f - fa);
    const float oa = fa + fd;
    auto mix = [&](uint8_t sc, uint8_t dc) { return ToByte((sc / 255.0f * fa + dc / 255.0f * fd) / oa); };
    return MakeARGB(ToByte(oa), mix(RedOf(s), RedOf(d)), mix(GreenOf(s), GreenOf(d)),
                    mix(BlueOf(s), BlueOf(d)));
}

/// Composites a premultiplied sample covering `cov` of the pixel onto a straight destination;
/// `copy` replaces the covered share instead of blending over it.
inline ARGB CompositePremul(Premul s, float cov, ARGB d, bool copy = false) {
    if (s.a >= 0.9999f && cov >= 1.0f) // opaque and whole: the destination does not matter
        return MakeARGB(255, ToByte(s.r), ToByte(s.g), ToByte(s.b));
    s.a = std::clamp(s.a, 0.0f, 1.0f);
    s.r = std::clamp(s.r, 0.0f, s.a);
    s.g = std::clamp(s.g, 0.0f, s.a);
    s.b = std::clamp(s.b, 0.0f, s.a);
    const float da = AlphaOf(d) / 255.0f;
    const float dr = RedOf(d) / 255.0f * da, dg = GreenOf(d) / 255.0f * da, db = BlueOf(d) / 255.0f * da;
    const float keep = copy ? 1.0f - cov : 1.0f - s.a * cov;
    const float oa = s.a * cov + da * keep;
    if (oa <= 0) return 0;
    const float orr = s.r * cov + dr * keep, og = s.g * cov + dg * keep, ob = s.b * cov + db * keep;
    return MakeARGB(ToByte(oa), ToByte(orr / oa), ToByte(og / oa), ToByte(ob / oa));
}

/// Device pixel -> fraction (fx, fy) of a rectangle: fx = a0 x + a1 y + a2, fy = b0 x + b1 y + b2.
struct EdgeCoverage {
    double a0, a1, a2, b0, b1, b2;

    bool Inside(double x, double y) const {
        const double fx = a0 * x + a1 * y + a2, fy = b0 * x + b1 * y + b2;
        return fx >= 0 && fx < 1 && fy >= 0 && fy < 1;
    }
    /// Share of the pixel centred at (x, y) that the rectangle covers: whole when its corners are
    /// all inside, none when they all lie beyond one edge, else counted on a 4 x 4 grid.
    float At(double x, double y) const {
        int in = 0, left = 0, right = 0, below = 0, above = 0;
        for (int k = 0; k < 4; ++k) {
            const double px = x + (k & 1 ? 0.5 : -0.5), py = y + (k & 2 ? 0.5 : -0.5);
            const double fx = a0 * px + a1 * py + a2, fy = b0 * px + b1 * py + b2;
            left += fx < 0, right += fx >= 1, below += fy < 0, above += fy >= 1;
            in += fx >= 0 && fx < 1 && fy >= 0 && fy < 1;
        }
        if (in == 4) return 1.0f;
        if (left == 4 || right == 4 || below == 4 || above == 4) return 0.0f;
        int hits = 0;
        for (int sy = 0; sy < 4; ++sy)
            for (int sx = 0; sx < 4; ++sx) hits += Inside(x - 0.5 + (sx + 0.5) / 4, y - 0.5 + (sy + 0.5) / 4);
        return hits / 16.0f;
    }
};

} // namespace imaging::pixel
