#pragma once
// What the two spatial quantizers share: colour vectors, the channel ranges, the a-image colour
// rule, the Gauss-Jordan inverse and the final palette fix-ups.

#include "imaging/Image.h"
#include "quant/ColorScience.h"
#include "quant/FlatMap.h"
#include "quant/QuantizerState.h"

#include <array>
#include <cmath>
#include <vector>

namespace zerimo {

using Vec4 = std::array<double, 4>;

/// Working memory the spatial methods may take; a larger job fails instead of exhausting memory.
constexpr uint64_t kSpatialMemoryBudget = uint64_t(4) << 30;

constexpr int kRangeMax[4] = {100, 127, 127, 255};
constexpr int kRangeMin[4] = {0, -128, -128, 0};

/// The colour vector of a pixel: (L, a, b, alpha) from CIELAB with 3 or more palette entries,
/// else (R, G, B, alpha) bytes; alpha only with 4 channels.
struct ColorVectors {
    FlatMap<LabColor>& cache;
    bool lab;
    int channels;

    Vec4 Of(imaging::ARGB c) {
        Vec4 v{0, 0, 0, 0};
        if (lab) {
            const LabColor* hit = cache.Find(c);
            if (!hit) {
                cache.Insert(c, ArgbToLab(c));
                hit = cache.Find(c);
            }
            v[0] = hit->L, v[1] = hit->a, v[2] = hit->b;
        } else {
            v[0] = double((c >> 16) & 0xFF), v[1] = double((c >> 8) & 0xFF), v[2] = double(c & 0xFF);
        }
        if (channels == 4) v[3] = double(c >> 24);
        return v;
    }
};

/// The colours that the a image sees: transparent neighbours are replaced by the centre pixel or by
/// a running colour, as the method prescribes.
struct NeighbourColors {
    uint32_t n;
    imaging::ARGB running;

    imaging::ARGB Pick(imaging::ARGB centre, imaging::ARGB neighbour, int64_t position) {
        if ((neighbour >> 24) < 16) {
            const int64_t step = n ? 256 / int64_t(n) : 0;
            if (n < 16 || step == 0 || position % step != 0) return centre;
            return running;
        }
        if (n > 64 || position % 2 == 0) running = neighbour;
        return neighbour;
    }
};

/// Inverts m (size x size, row-major) in place by Gauss-Jordan elimination without pivoting.
inline void InvertMatrix(std::vector<double>& m, int size) {
    std::vector<double> inv(size_t(size) * size, 0.0);
    for (int i = 0; i < size; ++i) inv[size_t(i) * size + i] = 1;
    for (int i = 0; i < size; ++i) {
        const double factor = m[size_t(i) * size + i];
        if (factor != 0) {
            for (int j = 0; j < size; ++j) {
                m[size_t(i) * size + j] /= factor;
                inv[size_t(i) * size + j] /= factor;
            }
        }
        for (int k = 0; k < size; ++k) {
            if (k == i) continue;
            const double f = m[size_t(k) * size + i];
            if (f == 0) continue;
            for (int j = 0; j < size; ++j) {
                m[size_t(k) * size + j] -= f * m[size_t(i) * size + j];
                inv[size_t(k) * size + j] -= f * inv[size_t(i) * size + j];
            }
        }
    }
    m.swap(inv);
}

/// Clamps a refined palette value of channel k.
inline double ClampChannel(double v, int k, uint32_t n) {
    if (n < 3) return std::isnan(v) ? 0 : std::min(255.0, std::max(0.0, v));
    if (std::isnan(v)) return kRangeMin[k];
    v = std::min(double(kRangeMax[k]), std::max(double(kRangeMin[k]), v));
    if (k == 3 && v < 15) v = 15;
    return v;
}

/// Palette vectors to ARGB entries.
inline void VectorsToPalette(const std::vector<Vec4>& vecs, imaging::ColorPalette& palette,
                             const TransparencyState& st, int channels) {
    const size_t n = vecs.size();
    palette.Entries.assign(n, 0);
    for (size_t v = 0; v < n; ++v) {
        if (n >= 3) {
            LabColor lab;
            // Without an alpha channel the fourth component is 0: the entries are opaque then (only
            // the transparent pixel's entry becomes the transparent colour afterwards).
            lab.alpha = st.transparentPixelIndex < 0 || channels < 4 ? 255 : uint8_t(int(vecs[v][3]));
            lab.L = vecs[v][0], lab.a = vecs[v][1], lab.b = vecs[v][2];
            palette.Entries[v] = LabToArgb(lab);
        } else {
            auto byte = [](double x) { return uint32_t(std::min(255, std::max(0, int(x)))); };
            palette.Entries[v] =
                byte(vecs[v][3]) << 24 | byte(vecs[v][0]) << 16 | byte(vecs[v][1]) << 8 | byte(vecs[v][2]);
        }
    }
}

/// The transparent colour into entry 0 with the indices remapped to match.
inline void TransparentFixUp(imaging::ColorPalette& palette, std::vector<uint16_t>& indices,
                             const std::vector<imaging::ARGB>& pixels, const TransparencyState& st) {
    const uint16_t t = indices[size_t(st.transparentPixelIndex)];
    palette.Entries[t] = st.transparentColor;
    if (t != 0) {
        std::swap(palette.Entries[t], palette.Entries[0]);
        for (size_t i = 0; i < indices.size(); ++i) {
            if (indices[i] == t || (pixels[i] >> 24) < 16)
                indices[i] = 0;
            else if (indices[i] == 0)
                indices[i] = t;
        }
    } else {
        for (size_t i = 0; i < indices.size(); ++i)
            if ((pixels[i] >> 24) < 16) indices[i] = 0;
    }
}

/// Two entries: transparent colour and black, or black and white with the darker entry black.
inline void TwoColorFixUp(imaging::ColorPalette& palette, std::vector<uint16_t>& indices,
                          const std::vector<imaging::ARGB>& pixels, const TransparencyState& st) {
    if (st.transparentPixelIndex >= 0) {
        TransparentFixUp(palette, indices, pixels, st);
        palette.Entries[1] = 0xFF000000;
    } else if (palette.Entries[1] < palette.Entries[0]) {
        palette.Entries[1] = 0xFF000000;
        palette.Entries[0] = 0xFFFFFFFF;
    } else {
        palette.Entries[0] = 0xFF000000;
        palette.Entries[1] = 0xFFFFFFFF;
    }
}

} // namespace zerimo
