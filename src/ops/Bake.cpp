#include "ops/Bake.h"

#include "imaging/PixelArithmetic.h"
#include "ops/Parallel.h"
#include "ops/Simd.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace zerimo {

using namespace imaging;

namespace {

using pixel::Over;

struct Coefficients {
    float m[5][4];
};

// out = in x m per channel, the products summed in the drawing's order, then clamped and rounded
// to bytes. The colour bytes are first made fractions as the drawing makes them (v / 255). Without
// an alpha plane every alpha is 1, and only the colour channels are computed.
ZERIMO_INLINE void TransformRow(uint8_t* const* bytes, float* const* in, bool alpha, const Coefficients& k,
                                int n) {
    for (int c = 0; c < (alpha ? 4 : 3); ++c) {
        const uint8_t* __restrict s = bytes[c];
        float* __restrict f = in[c];
        for (int x = 0; x < n; ++x) f[x] = float(s[x]) / 255.0f;
    }
    const float* __restrict r = in[0];
    const float* __restrict g = in[1];
    const float* __restrict b = in[2];
    const float* __restrict a = in[3];
    for (int j = 0; j < (alpha ? 4 : 3); ++j) {
        const float m0 = k.m[0][j], m1 = k.m[1][j], m2 = k.m[2][j], m3 = k.m[3][j], m4 = k.m[4][j];
        uint8_t* __restrict o = bytes[j];
        if (alpha) {
            for (int x = 0; x < n; ++x) {
                float v = r[x] * m0 + g[x] * m1 + b[x] * m2 + a[x] * m3 + m4;
                v = v < 0.0f ? 0.0f : v;
                v = v > 1.0f ? 1.0f : v;
                o[x] = uint8_t(int(v * 255.0f + 0.5f));
            }
        } else {
            for (int x = 0; x < n; ++x) {
                float v = r[x] * m0 + g[x] * m1 + b[x] * m2 + m3 + m4;
                v = v < 0.0f ? 0.0f : v;
                v = v > 1.0f ? 1.0f : v;
                o[x] = uint8_t(int(v * 255.0f + 0.5f));
            }
        }
    }
}
ZERIMO_AVX2 void TransformRowAvx2(uint8_t* const* bytes, float* const* in, bool alpha, const Coefficients& k,
                                  int n) {
    TransformRow(bytes, in, alpha, k, n);
}
void TransformRowBase(uint8_t* const* bytes, float* const* in, bool alpha, const Coefficients& k, int n) {
    TransformRow(bytes, in, alpha, k, n);
}

} // namespace

bool BakeAdjustmentInto(Image& dst, Image& src, const ImageAttributes& attributes) {
    const PixelFormat sf = src.GetPixelFormat(), df = dst.GetPixelFormat();
    if (sf != PixelFormat24bppRGB && sf != PixelFormat32bppRGB && sf != PixelFormat32bppARGB) return false;
    if (df != PixelFormat24bppRGB && df != PixelFormat32bppARGB) return false;
    if (src.GetType() != ImageTypeBitmap || dst.GetType() != ImageTypeBitmap) return false;
    const uint32_t w = src.GetWidth(), h = src.GetHeight();
    if (dst.GetWidth() != w || dst.GetHeight() != h) return false;
    const ColorAdjustment& a = attributes.BitmapAdjustment();
    if (a.matrixEnabled && a.flags != ColorMatrixFlagsDefault) return false;

    const bool matrix = a.matrixEnabled && !a.matrix.IsIdentity();
    const bool gamma = a.gammaEnabled && a.gamma != 1.0f;
    Coefficients k;
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 4; ++j) k.m[i][j] = a.matrix.m[i][j];
    uint8_t lut[256];
    for (int i = 0; i < 256; ++i)
        lut[i] = gamma ? uint8_t(std::lround(std::pow(i / 255.0, double(a.gamma)) * 255.0)) : uint8_t(i);
    // An opaque source under a matrix that keeps alpha: every alpha in and out is 1.
    const bool alphaPlane = sf == PixelFormat32bppARGB || a.matrix.m[0][3] != 0 || a.matrix.m[1][3] != 0 ||
                            a.matrix.m[2][3] != 0 || a.matrix.m[3][3] != 1 || a.matrix.m[4][3] != 0;
    static const auto transform = CpuHasAvx2() ? TransformRowAvx2 : TransformRowBase;

    BitmapData in, out;
    if (src.LockBits(nullptr, ImageLockModeRead, sf, &in) != Ok) return false;
    if (dst.LockBits(nullptr, ImageLockModeWrite, df, &out) != Ok) {
        src.UnlockBits(&in);
        return false;
    }
    const int sb = sf == PixelFormat24bppRGB ? 3 : 4, db = df == PixelFormat24bppRGB ? 3 : 4;
    const bool sourceAlpha = sf == PixelFormat32bppARGB;
    // What the cleared target holds: transparent white, which a 24-bit target stores as white.
    const ARGB background = db == 4 ? 0x00FFFFFFu : 0xFFFFFFFFu;
    ParallelRows(int(h), uint64_t(w) * h, [&](int first, int last) {
        std::vector<float> planes(size_t(w) * 4);
        std::vector<uint8_t> bytes(size_t(w) * 4);
        float* f[4] = {planes.data(), planes.data() + w, planes.data() + 2 * size_t(w),
                       planes.data() + 3 * size_t(w)};
        uint8_t* o[4] = {bytes.data(), bytes.data() + w, bytes.data() + 2 * size_t(w),
                         bytes.data() + 3 * size_t(w)};
        for (int y = first; y < last; ++y) {
            const uint8_t* s = static_cast<const uint8_t*>(in.Scan0) + ptrdiff_t(y) * in.Stride;
            uint8_t* d = static_cast<uint8_t*>(out.Scan0) + ptrdiff_t(y) * out.Stride;
            for (uint32_t x = 0; x < w; ++x) {
                const uint8_t* p = s + size_t(x) * sb;
                o[0][x] = p[2], o[1][x] = p[1], o[2][x] = p[0], o[3][x] = sourceAlpha ? p[3] : 255;
            }
            if (matrix) transform(o, f, alphaPlane, k, int(w));
            for (uint32_t x = 0; x < w; ++x, d += db) {
                ARGB c = MakeARGB(o[3][x], lut[o[0][x]], lut[o[1][x]], lut[o[2][x]]);
                if (AlphaOf(c) != 255) c = Over(c, background);
                d[0] = BlueOf(c);
                d[1] = GreenOf(c);
                d[2] = RedOf(c);
                if (db == 4) d[3] = AlphaOf(c);
            }
        }
    });
    dst.UnlockBits(&out);
    src.UnlockBits(&in);
    return true;
}

} // namespace zerimo
