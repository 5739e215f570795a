#include "ops/Geometry.h"

#include "imaging/Graphics.h"
#include "imaging/ImageAttributes.h"
#include "imaging/Matrix.h"
#include "imaging/PixelArithmetic.h"
#include "ops/Parallel.h"

#include <algorithm>
#include <cmath>

namespace zerimo {

using namespace imaging;

Size RotatedCanvasSize(uint32_t width, uint32_t height, double degrees) {
    const float t = float(degrees * 3.14159265358979323846 / 180.0);
    const float c = std::cos(t), s = std::sin(t);
    const float w = float(width), h = float(height);
    const float xs[4] = {0.0f, w * c, -h * s, w * c - h * s};
    const float ys[4] = {0.0f, w * s, h * c, w * s + h * c};
    const float wx = *std::max_element(xs, xs + 4) - *std::min_element(xs, xs + 4);
    const float hy = *std::max_element(ys, ys + 4) - *std::min_element(ys, ys + 4);
    return Size{int32_t(std::ceil(wx)), int32_t(std::ceil(hy))};
}

namespace {

using pixel::CompositePremul;
using pixel::Premul;
using pixel::ToPremul;

/// Bilinear samples of a 24- or 32-bit bitmap, its edge pixels extended outwards.
struct Sampler {
    const uint8_t* base;
    ptrdiff_t stride;
    int w, h, bpp;
    bool alpha;

    Premul At(double u, double v) const {
        u = std::clamp(u, -1e12, 1e12), v = std::clamp(v, -1e12, 1e12);
        int64_t x0 = int64_t(u), y0 = int64_t(v); // floor, without a library call
        x0 -= double(x0) > u, y0 -= double(y0) > v;
        const float tu = float(u - double(x0)), tv = float(v - double(y0));
        const int xs[2] = {Clamp(x0, w), Clamp(x0 + 1, w)}, ys[2] = {Clamp(y0, h), Clamp(y0 + 1, h)};
        const float wx[2] = {1 - tu, tu}, wy[2] = {1 - tv, tv};
        Premul a{0, 0, 0, 0};
        for (int j = 0; j < 2; ++j) {
            if (wy[j] == 0) continue;
            const uint8_t* row = base + ptrdiff_t(ys[j]) * stride;
            for (int i = 0; i < 2; ++i) {
                const float wt = wx[i] * wy[j];
                if (wt == 0) continue;
                const uint8_t* p = row + ptrdiff_t(xs[i]) * bpp;
                const Premul q = ToPremul(p[2], p[1], p[0], alpha ? p[3] : 255);
                a.r += wt * q.r, a.g += wt * q.g, a.b += wt * q.b, a.a += wt * q.a;
            }
        }
        return a;
    }
    static int Clamp(int64_t k, int n) { return int(k < 0 ? 0 : k >= n ? n - 1 : k); }
};

} // namespace

Status DrawRotatedImage(Image& dst, Image& src, double degrees) {
    const PixelFormat df = dst.GetPixelFormat();
    const float turn = float(degrees);
    const bool axisAligned = std::sin(turn * 3.14159265f / 180.0f) == 0.0f; // a plain copy
    if ((df != PixelFormat24bppRGB && df != PixelFormat32bppARGB) || axisAligned) {
        // Other targets, and turns that leave the axes where they are, take the general drawing.
        auto g = Graphics::FromImage(&dst);
        if (Status s = g->GetLastStatus(); s != Ok) return s;
        const int32_t w = int32_t(src.GetWidth()), h = int32_t(src.GetHeight());
        g->SetCompositingQuality(CompositingQualityHighQuality);
        g->SetCompositingMode(CompositingModeSourceOver);
        g->SetPixelOffsetMode(PixelOffsetModeHighQuality);
        g->TranslateTransform(float(-(w / 2)), float(-(h / 2)));
        g->RotateTransform(float(degrees), MatrixOrderAppend);
        g->TranslateTransform(float(int32_t(dst.GetWidth()) / 2), float(int32_t(dst.GetHeight()) / 2),
                              MatrixOrderAppend);
        g->SetSmoothingMode(SmoothingModeAntiAlias);
        return g->DrawImage(&src, RectF{0, 0, float(w), float(h)}, 0, 0, float(w), float(h), UnitPixel);
    }
    const int w = int(src.GetWidth()), h = int(src.GetHeight());
    const int nw = int(dst.GetWidth()), nh = int(dst.GetHeight());
    if (w <= 0 || h <= 0) return InvalidParameter;
    // The world transform a drawing would use: the image's centre to the origin, turned, then to
    // the canvas's centre (integer halves), in the transform's single precision.
    Matrix m;
    m.Translate(float(-(w / 2)), float(-(h / 2)));
    m.Rotate(float(degrees), MatrixOrderAppend);
    m.Translate(float(nw / 2), float(nh / 2), MatrixOrderAppend);
    float e[6];
    m.GetElements(e);
    const double det = double(e[0]) * e[3] - double(e[1]) * e[2];
    if (det == 0 || !std::isfinite(det)) return Ok;
    // Device -> world.
    const double i0 = e[3] / det, i1 = -e[1] / det, i2 = -e[2] / det, i3 = e[0] / det;
    const double i4 = -(e[4] * i0 + e[5] * i2), i5 = -(e[4] * i1 + e[5] * i3);

    const PixelFormat sf = src.GetPixelFormat();
    const PixelFormat lockFormat =
        (sf == PixelFormat24bppRGB || sf == PixelFormat32bppARGB) ? sf : PixelFormat32bppARGB;
    BitmapData in, out;
    if (Status s = src.LockBits(nullptr, ImageLockModeRead, lockFormat, &in); s != Ok) return s;
    if (Status s = dst.LockBits(nullptr, ImageLockModeRead | ImageLockModeWrite, df, &out); s != Ok) {
        src.UnlockBits(&in);
        return s;
    }
    const Sampler sampler{
        static_cast<const uint8_t*>(in.Scan0), in.Stride, w, h, lockFormat == PixelFormat24bppRGB ? 3 : 4,
        lockFormat == PixelFormat32bppARGB};
    const int db = df == PixelFormat24bppRGB ? 3 : 4;
    const double W = w, H = h;
    // Device -> fraction of the image rectangle, in the order the general drawing computes it, so
    // that pixels on an edge get the same coverage.
    const double a0 = i0 / W, a1 = i2 / W, a2 = i4 / W, b0 = i1 / H, b1 = i3 / H, b2 = i5 / H;
    // Coverage of the pixels on an edge, computed as the general drawing computes it.
    const pixel::EdgeCoverage edges{a0, a1, a2, b0, b1, b2};
    auto coverage = [&](double x, double y) { return edges.At(x, y); };
    auto sampleAt = [&](double x, double y) {
        const double fx = a0 * x + a1 * y + a2, fy = b0 * x + b1 * y + b2;
        return sampler.At(fx * W - 0.5, fy * H - 0.5);
    };
    // Half the world extent of a pixel along each axis: a pixel whose centre keeps that far from the
    // image's edges lies wholly inside it.
    const double hx = (std::fabs(i0) + std::fabs(i2)) / 2, hy = (std::fabs(i1) + std::fabs(i3)) / 2;
    auto store = [&](uint8_t* p, ARGB c) {
        p[0] = BlueOf(c), p[1] = GreenOf(c), p[2] = RedOf(c);
        if (db == 4) p[3] = AlphaOf(c);
    };
    auto read = [&](const uint8_t* p) { return MakeARGB(db == 4 ? p[3] : 255, p[2], p[1], p[0]); };

    ParallelRows(nh, uint64_t(nw) * uint64_t(nh) * 4, [&](int first, int last) {
        for (int y = first; y < last; ++y) {
            const double cy = y + 0.5;
            uint8_t* drow = static_cast<uint8_t*>(out.Scan0) + ptrdiff_t(y) * out.Stride;
            // The centres x + 0.5 for which wx and wy stay within [lo, hi): an interval of the row.
            double xa = -1e300, xb = 1e300;
            auto clip = [&](double k, double c, double lo, double hi) {
                if (k == 0) {
                    if (!(c >= lo && c < hi)) xa = 1, xb = 0;
                    return;
                }
                double t0 = (lo - c) / k, t1 = (hi - c) / k;
                if (t0 > t1) std::swap(t0, t1);
                xa = std::max(xa, t0), xb = std::min(xb, t1);
            };
            // Pixels that any part of the image may reach, and those it wholly covers.
            clip(i0, i2 * cy + i4, -2 * hx, W + 2 * hx);
            clip(i1, i3 * cy + i5, -2 * hy, H + 2 * hy);
            if (!(xa < xb)) continue;
            const int x0 = std::clamp(int(std::floor(xa - 0.5)) - 1, 0, nw),
                      x1 = std::clamp(int(std::ceil(xb - 0.5)) + 1, 0, nw);
            xa = -1e300, xb = 1e300;
            clip(i0, i2 * cy + i4, hx, W - hx);
            clip(i1, i3 * cy + i5, hy, H - hy);
            int f0 = x1, f1 = x1; // wholly covered: [f0, f1), with a pixel's margin for rounding
            if (xa < xb) {
                f0 = std::clamp(int(std::ceil(xa - 0.5)) + 1, x0, x1);
                f1 = std::clamp(int(std::floor(xb - 0.5)) - 1, f0, x1);
            }
            for (int x = x0; x < x1; ++x) {
                if (x == f0 && f0 < f1) {
                    for (; x < f1; ++x) {
                        uint8_t* p = drow + ptrdiff_t(x) * db;
                        store(p, CompositePremul(sampleAt(x + 0.5, cy), 1.0f, read(p)));
                    }
                    if (x >= x1) break;
                }
                const double cx = x + 0.5;
                const float c = coverage(cx, cy);
                if (c <= 0) continue;
                uint8_t* p = drow + ptrdiff_t(x) * db;
                store(p, CompositePremul(sampleAt(cx, cy), c, read(p)));
            }
        }
    });
    dst.UnlockBits(&out);
    src.UnlockBits(&in);
    return Ok;
}

Status DrawResizedImage(Image& dst, Image& src) {
    ImageAttributes attributes;
    attributes.SetWrapMode(WrapModeTileFlipXY, 0xFF000000, false);
    auto g = Graphics::FromImage(&dst);
    if (Status s = g->GetLastStatus(); s != Ok) return s;
    g->SetCompositingQuality(CompositingQualityHighQuality);
    g->SetSmoothingMode(SmoothingModeHighQuality);
    g->SetInterpolationMode(InterpolationModeHighQualityBicubic);
    g->SetPixelOffsetMode(PixelOffsetModeHighQuality);
    return g->DrawImage(&src, RectF{0, 0, float(dst.GetWidth()), float(dst.GetHeight())}, 0, 0,
                        float(src.GetWidth()), float(src.GetHeight()), UnitPixel, &attributes);
}

SizeF ScreenProportionalSize(uint32_t width, uint32_t height, int screenHeight) {
    if (height == 0) return SizeF{0, 0};
    const float v = float(screenHeight);
    return SizeF{float(width) * v / float(height), v};
}

CSizeDialogState::CSizeDialogState(int32_t imageWidth, int32_t imageHeight)
    : width(imageWidth), height(imageHeight),
      ratio(imageHeight == 0 ? 1.0f : float(imageWidth) / float(imageHeight)) {}

void CSizeDialogState::OnWidthChanged(int32_t value) {
    width = value;
    if (!keepProportions || updating_) return;
    updating_ = true;
    OnHeightChanged(int32_t(std::floor(double(float(value) / ratio) + 0.5)));
    updating_ = false;
}

void CSizeDialogState::OnHeightChanged(int32_t value) {
    height = value;
    if (!keepProportions || updating_) return;
    updating_ = true;
    OnWidthChanged(int32_t(std::floor(double(float(value) * ratio) + 0.5)));
    updating_ = false;
}

bool CSizeDialogState::Valid() const {
    return width >= kMinimum && width <= kMaximum && height >= kMinimum && height <= kMaximum;
}

} // namespace zerimo
