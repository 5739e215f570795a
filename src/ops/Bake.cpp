#include "ops/Bake.h"

#include "ops/Parallel.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace zerimo {

using namespace imaging;

namespace {

inline uint8_t ToByte(float v) {
    return uint8_t(std::clamp(v, 0.0f, 1.0f) * 255.0f + 0.5f);
}

// Source-over of a straight colour on a straight destination, in the drawing's own arithmetic.
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
    // in[i] * m[i][j] for every byte value: the products the drawing forms, looked up.
    std::vector<float> table(matrix ? 4 * 4 * 256 : 0);
    auto at = [&](int i, int j) { return table.data() + (i * 4 + j) * 256; };
    if (matrix)
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j)
                for (int v = 0; v < 256; ++v) at(i, j)[v] = (float(v) / 255.0f) * a.matrix.m[i][j];
    float shift[4] = {};
    for (int j = 0; j < 4; ++j) shift[j] = a.matrix.m[4][j];
    uint8_t lut[256];
    for (int i = 0; i < 256; ++i)
        lut[i] = gamma ? uint8_t(std::lround(std::pow(i / 255.0, double(a.gamma)) * 255.0)) : uint8_t(i);

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
        for (int y = first; y < last; ++y) {
            const uint8_t* s = static_cast<const uint8_t*>(in.Scan0) + ptrdiff_t(y) * in.Stride;
            uint8_t* d = static_cast<uint8_t*>(out.Scan0) + ptrdiff_t(y) * out.Stride;
            for (uint32_t x = 0; x < w; ++x, s += sb, d += db) {
                const uint8_t r = s[2], g = s[1], b = s[0], al = sourceAlpha ? s[3] : 255;
                uint8_t v[4] = {r, g, b, al};
                if (matrix)
                    for (int j = 0; j < 4; ++j) {
                        const float x4 = at(0, j)[r] + at(1, j)[g] + at(2, j)[b] + at(3, j)[al] + shift[j];
                        v[j] = uint8_t(std::clamp(x4, 0.0f, 1.0f) * 255.0f + 0.5f);
                    }
                ARGB c = MakeARGB(v[3], lut[v[0]], lut[v[1]], lut[v[2]]);
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
