// Black and white by Otsu's threshold over the red, green and blue bytes together, then the
// Gilbert-curve ditherer onto black and white.

#include "quant/GilbertDither.h"
#include "quant/PixelBridge.h"
#include "quant/PnnCommon.h"
#include "quant/Quantizers.h"

namespace zerimo {

using namespace imaging;

namespace {

/// The answer depends on the colour alone, so remembering answers cannot change them; with two
/// entries the search is cheaper than a lookup.
struct OtsuNearest {
    uint16_t operator()(const ColorPalette& palette, ARGB c, int64_t) {
        if ((c >> 24) <= 15) return 0;
        double best = 2147483647.0;
        uint16_t k = 0;
        for (uint32_t i = 0; i < palette.Count(); ++i) {
            const ARGB e = palette.Entries[i];
            auto d = [&](int shift) {
                const int v = int((e >> shift) & 0xFF) - int((c >> shift) & 0xFF);
                return double(v * v);
            };
            double sum = d(24);
            if (sum > best) continue;
            sum += d(16);
            if (sum > best) continue;
            sum += d(8);
            if (sum > best) continue;
            sum += d(0);
            if (sum > best) continue;
            best = sum;
            k = uint16_t(i);
        }
        return k;
    }
};

} // namespace

/// The threshold with the largest between-class variance over thresholds 1..254 (0 when all are 0).
int OtsuThreshold(const uint32_t (&histogram)[256]) {
    int best = 0;
    float bestVariance = 0;
    for (int k = 1; k <= 254; ++k) {
        float q1 = 0, q2 = 0, m1 = 0, m2 = 0;
        for (int i = 0; i <= k; ++i) q1 += float(histogram[i]), m1 += float(i) * float(histogram[i]);
        for (int i = k + 1; i < 256; ++i) q2 += float(histogram[i]), m2 += float(i) * float(histogram[i]);
        float div = q1 * q2;
        if (div == 0) div = 1;
        const float num = m1 * q2 - m2 * q1;
        const float variance = num * num / div;
        if (variance > bestVariance) {
            bestVariance = variance;
            best = k;
        }
    }
    return best;
}

bool OtsuQuantize(Image& source, Image& target, bool, QuantRun& run) {
    TransparencyState& st = run.state.otsu;
    const uint32_t w = source.GetWidth(), h = source.GetHeight();
    const size_t count = size_t(w) * h;
    if (count == 0 || count > MaxFramePixels) return false;
    std::vector<ARGB> pixels(count, 0);
    int semi = 0;
    ReadArgbPixels(source, pixels, semi, st.transparentPixelIndex, st.transparentColor, 2, 2);
    st.hasSemiTransparency = semi > 0;

    uint32_t histogram[256] = {};
    for (ARGB c : pixels) {
        if ((c >> 24) <= 15) continue;
        ++histogram[(c >> 16) & 0xFF];
        ++histogram[(c >> 8) & 0xFF];
        ++histogram[c & 0xFF];
    }
    const int k = OtsuThreshold(histogram);
    int t1 = k, t2 = k;
    if (k >= 200) {
        t1 = int(float(k) * 0.78f);
        t2 = int(200 * 0.78f);
    }
    for (ARGB& c : pixels) {
        const int s = int((c >> 16) & 0xFF) + int((c >> 8) & 0xFF) + int(c & 0xFF);
        if (s > 3 * t1)
            c |= 0x00FFFFFF;
        else if (st.transparentPixelIndex >= 0 || s < 3 * t2)
            c &= 0xFF000000;
    }
    if (run.stop.stop_requested()) return false;

    ColorPalette palette;
    palette.Entries.assign(2, 0);
    FixedTwoColorPalette(palette, st);
    std::vector<uint16_t> indices(count, 0);
    OtsuNearest nearest;
    if (!GilbertCurveDither(int(w), int(h), pixels.data(), palette, nearest, indices.data(), nullptr, 3.0,
                            run.stop))
        return false;
    if (st.transparentPixelIndex >= 0 &&
        palette.Entries[indices[size_t(st.transparentPixelIndex)]] != st.transparentColor)
        std::swap(palette.Entries[0], palette.Entries[1]);
    return WriteIndexedImage(target, palette, indices, st.transparentPixelIndex >= 0);
}

} // namespace zerimo
