// Pairwise nearest-neighbour merging of colour bins in RGB (with alpha), then error diffusion along
// a Gilbert curve onto the palette.

#include "quant/BlueNoise.h"
#include "quant/GilbertDither.h"
#include "quant/PixelBridge.h"
#include "quant/PnnCommon.h"
#include "quant/Quantizers.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace zerimo {

using namespace imaging;

namespace {

constexpr float kYuv[3][3] = {
    {0.299f, 0.587f, 0.114f}, {-0.14713f, -0.28886f, 0.436f}, {0.615f, -0.51499f, -0.10001f}};

template <class T> inline T Sqr(T v) {
    return v * v;
}

struct PnnRun {
    PnnState& st;
    std::vector<MergeBin>& bins;

    void FindNearestPair(int i) const {
        MergeBin& b1 = bins[size_t(i)];
        int s = NoiseAt(i) <= -88 ? 0 : 1;
        if (st.hasSemiTransparency) s = 1;
        float best = std::numeric_limits<float>::infinity();
        int nearest = 0;
        const float wi = b1.weight;
        for (int j = b1.next; j != 0; j = bins[size_t(j)].next) {
            const MergeBin& b2 = bins[size_t(j)];
            const float wj = b2.weight;
            const float h = wi * wj / (wi + wj);
            if (h >= best) continue;
            const double hh = 0.5 * double(h);
            double err = 0;
            if (st.hasSemiTransparency) {
                err += hh * st.PA * double(Sqr(b2.a - b1.a));
                if (err >= best) continue;
            }
            const float dr = b2.r - b1.r, dg = b2.g - b1.g, db = b2.b - b1.b;
            err += hh * st.PR * double(Sqr(dr));
            if (err >= best) continue;
            err += hh * st.PG * double(Sqr(dg));
            if (err >= best) continue;
            err += hh * st.PB * double(Sqr(db));
            if (err >= best) continue;
            bool over = false;
            for (int row = s; row < 3 && !over; ++row) {
                err += hh * double(Sqr(kYuv[row][0] * dr));
                if (err >= best) {
                    over = true;
                    break;
                }
                err += hh * double(Sqr(kYuv[row][1] * dg));
                if (err >= best) {
                    over = true;
                    break;
                }
                err += hh * double(Sqr(kYuv[row][2] * db));
                if (err >= best) over = true;
            }
            if (over) continue;
            best = float(err);
            nearest = j;
        }
        b1.mergeCost = best;
        b1.nearest = nearest;
    }
};

uint32_t BinIndex(ARGB c, bool semi, bool argb1555) {
    const uint32_t a = c >> 24, r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
    if (semi) return (a >> 4) << 12 | (r >> 4) << 8 | (g >> 4) << 4 | (b >> 4);
    if (argb1555) return (a >> 7) << 15 | (r >> 3) << 10 | (g >> 3) << 5 | (b >> 3);
    return (r >> 3) << 11 | (g >> 2) << 5 | (b >> 3);
}

void BuildPalette(const std::vector<ARGB>& pixels, ColorPalette& palette, uint32_t& n, QuantRun& run) {
    PnnState& st = run.state.pnn;
    std::vector<MergeBin> bins(65536);
    const bool argb1555 = n < 64 || st.transparentPixelIndex >= 0;
    for (ARGB c : pixels) {
        if ((c >> 24) < 16) c = st.transparentColor;
        MergeBin& b = bins[BinIndex(c, st.hasSemiTransparency, argb1555)];
        b.a += float(c >> 24);
        b.r += float((c >> 16) & 0xFF);
        b.g += float((c >> 8) & 0xFF);
        b.b += float(c & 0xFF);
        b.weight += 1;
    }
    int m = CompactBins(bins);

    const double ratio = double(n) / m;
    float (*transform)(float) = nullptr;
    int q = n < 16 ? -1 : 1;
    if (ratio > 0.003 && ratio < 0.005) q = 0;
    if (q < 0)
        transform = [](float w) { return float(int(std::cbrt(w))); };
    else if (q > 0)
        transform =
            n < 64 ? [](float w) { return float(int(std::sqrt(w))); } : [](float w) { return std::sqrt(w); };
    if (ratio < 0.04 && st.PG >= double(0.587f) && st.PG < 1) {
        st.PA = st.PR = st.PG = st.PB = 1;
        if (n > 63) transform = nullptr;
    }
    LinkBins(bins, m, transform);

    PnnRun pr{st, bins};
    std::vector<int> heap(size_t(m) + 1);
    ParallelFor(run.state.threads, size_t(m), [&](size_t i) {
        if (!run.stop.stop_requested()) pr.FindNearestPair(int(i));
    });
    if (run.stop.stop_requested()) return;
    for (int i = 0; i < m; ++i) HeapInsert(heap, bins, i);

    if (!MergeLoop(
            heap, bins, m - int(n), run.stop, [&](int t) { pr.FindNearestPair(t); },
            [](MergeBin& t, const MergeBin& u, float w1, float w2) {
                const float d = 1.0f / (w1 + w2);
                t.a = std::nearbyint(w2 * u.a + w1 * t.a) * d;
                t.r = std::nearbyint(w2 * u.r + w1 * t.r) * d;
                t.g = std::nearbyint(w2 * u.g + w1 * t.g) * d;
                t.b = std::nearbyint(w2 * u.b + w1 * t.b) * d;
            }))
        return;

    const bool keepAlpha = st.hasSemiTransparency || st.transparentPixelIndex >= 0;
    uint32_t k = 0;
    for (int i = 0;;) {
        const MergeBin& b = bins[size_t(i)];
        const uint32_t a = keepAlpha ? uint32_t(std::nearbyint(b.a)) : 255u;
        if (k < palette.Entries.size())
            palette.Entries[k] =
                a << 24 | uint32_t(int(b.r)) << 16 | uint32_t(int(b.g)) << 8 | uint32_t(int(b.b));
        ++k;
        if ((i = b.next) == 0) break;
    }
    if (k < n) {
        n = k;
        palette.Entries.resize(k);
    }
}

/// The exhaustive nearest-colour search, answered from the entries ordered by green: the green
/// term alone bounds a candidate's sum from below, so the walk outward from the asked green stops
/// where that term exceeds the best sum. Same answer as trying every entry in order (smallest
/// sum, the later entry on ties).
struct Nearest {
    Nearest(PnnState& state, size_t pixels)
        : st(state), cache(std::min<size_t>(pixels / 4 + 1024, 1 << 22)) {}
    PnnState& st;
    FlatMap<uint16_t> cache;
    const ColorPalette* sortedFor = nullptr;
    std::vector<uint16_t> order;  // entry indices by green, then index
    std::vector<int> greens;      // green of order[i]
    std::vector<uint32_t> colors; // entry of order[i]

    void Prepare(const ColorPalette& palette) {
        sortedFor = &palette;
        order.resize(palette.Count());
        for (uint32_t i = 0; i < palette.Count(); ++i) order[i] = uint16_t(i);
        auto green = [&](uint16_t i) { return int((palette.Entries[i] >> 8) & 0xFF); };
        std::stable_sort(order.begin(), order.end(),
                         [&](uint16_t x, uint16_t y) { return green(x) < green(y); });
        greens.resize(order.size());
        colors.resize(order.size());
        for (size_t i = 0; i < order.size(); ++i)
            greens[i] = green(order[i]), colors[i] = palette.Entries[order[i]];
    }

    uint16_t operator()(const ColorPalette& palette, ARGB c, int64_t p) {
        if (const uint16_t* hit = cache.Find(c)) return *hit;
        if (sortedFor != &palette || order.size() != palette.Count()) Prepare(palette);
        const ARGB key = c;
        if ((c >> 24) < 16) c = st.transparentColor;
        const uint32_t count = palette.Count();
        const uint32_t first = (count > 2 && st.transparentPixelIndex >= 0 && (c >> 24) > 15) ? 1 : 0;
        double wr = double(0.299f), wg = double(0.587f), wb = double(0.114f);
        if (NoiseAt(p) <= -88) wr = st.PR, wg = st.PG, wb = st.PB;
        const double wa = st.PA;
        const int a = int(c >> 24), r = int((c >> 16) & 0xFF), g = int((c >> 8) & 0xFF), b = int(c & 0xFF);
        double best = 2147483647.0;
        int k = -1;
        auto consider = [&](size_t s) {
            const uint16_t idx = order[s];
            if (idx < first) return;
            const ARGB x = colors[s];
            double sum = wa * Sqr(int(x >> 24) - a);
            sum += wr * Sqr(int((x >> 16) & 0xFF) - r);
            sum += wg * Sqr(greens[s] - g);
            sum += wb * Sqr(int(x & 0xFF) - b);
            if (sum < best || (sum == best && int(idx) > k)) best = sum, k = idx;
        };
        const size_t n = order.size();
        size_t hi = size_t(std::lower_bound(greens.begin(), greens.end(), g) - greens.begin());
        size_t lo = hi;
        bool up = hi<n, down = lo> 0;
        while (up || down) {
            if (up) {
                if (wg * Sqr(greens[hi] - g) > best) {
                    up = false;
                } else {
                    consider(hi);
                    up = ++hi < n;
                }
            }
            if (down) {
                if (wg * Sqr(greens[lo - 1] - g) > best) {
                    down = false;
                } else {
                    consider(lo - 1);
                    down = --lo > 0;
                }
            }
        }
        const uint16_t answer = uint16_t(k < 0 ? 0 : k);
        cache.Insert(key, answer);
        return answer;
    }
};

} // namespace

bool PnnQuantize(Image& source, Image& target, uint32_t& n, bool, QuantRun& run) {
    PnnState& st = run.state.pnn;
    const uint32_t w = source.GetWidth(), h = source.GetHeight();
    const size_t count = size_t(w) * h;
    if (count == 0 || count > MaxFramePixels) return false;
    std::vector<ARGB> pixels(count, 0);
    int semi = 0;
    ReadArgbPixels(source, pixels, semi, st.transparentPixelIndex, st.transparentColor, 15, n);
    st.hasSemiTransparency = semi > 0;

    ColorPalette palette;
    palette.Entries.assign(n, 0);
    if (n > 32) {
        st.PR = double(0.299f), st.PG = double(0.587f), st.PB = double(0.114f);
    } else {
        st.PA = st.PR = st.PG = st.PB = 1;
    }
    if (n > 2) {
        BuildPalette(pixels, palette, n, run);
        if (run.stop.stop_requested()) return false;
    } else {
        FixedTwoColorPalette(palette, st);
    }

    std::vector<uint16_t> indices(count, 0);
    Nearest nearest(st, count);
    const double weight = double(semi) / double(count) > 0.099 ? 1.5 : 3.0;
    if (!GilbertCurveDither(int(w), int(h), pixels.data(), palette, nearest, indices.data(), nullptr, weight,
                            run.stop))
        return false;
    return WriteResult(target, palette, indices, n, st);
}

} // namespace zerimo
