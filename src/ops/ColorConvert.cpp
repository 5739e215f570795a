#include "ops/ColorConvert.h"

#include "ops/Parallel.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>

namespace zerimo {

using namespace imaging;

std::shared_ptr<Image> GrayScaleImage(Image& src) {
    const PixelFormat own = src.GetPixelFormat();
    const uint32_t bits = GetPixelFormatSize(own);
    const PixelFormat f = (bits == 24 || bits == 32) ? own : PixelFormat32bppARGB;
    const uint32_t w = src.GetWidth(), h = src.GetHeight();
    auto copy = src.Clone(Rect{0, 0, int32_t(w), int32_t(h)}, f);
    if (!copy || copy->GetType() != ImageTypeBitmap) return nullptr;
    BitmapData d;
    if (copy->LockBits(nullptr, ImageLockModeRead | ImageLockModeWrite, copy->GetPixelFormat(), &d) != Ok)
        return nullptr;
    const int b = int(GetPixelFormatSize(d.PixelFormat) / 8);
    float lo = 255.0f, hi = 0.0f;
    for (uint32_t y = 0; y < d.Height; ++y) {
        const uint8_t* p = static_cast<const uint8_t*>(d.Scan0) + ptrdiff_t(y) * d.Stride;
        for (uint32_t x = 0; x < d.Width; ++x, p += b) {
            if (b > 3 && p[3] <= 15) continue;
            lo = std::min(lo, float(p[1]));
            hi = std::max(hi, float(p[1]));
        }
    }
    // An empty range has no stretch to make: the green channel stays as it is.
    float s = 1.0f;
    if (hi > lo)
        s = 255.0f / (hi - lo);
    else
        lo = 0.0f;
    for (uint32_t y = 0; y < d.Height; ++y) {
        uint8_t* p = static_cast<uint8_t*>(d.Scan0) + ptrdiff_t(y) * d.Stride;
        for (uint32_t x = 0; x < d.Width; ++x, p += b) {
            const int g = int((float(p[1]) - lo) * s);
            p[0] = p[1] = p[2] = uint8_t(g);
        }
    }
    copy->UnlockBits(&d);
    return copy;
}

Status SetGrayscaleMarker(Image& image) {
    uint16_t value = GrayscaleMarkerValue;
    PropertyItem item;
    item.id = PropertyTagThreshHolding;
    item.type = PropertyTagTypeShort;
    item.length = sizeof value; // one SHORT
    item.value = &value;
    return image.SetPropertyItem(item);
}

RECT RedEyeArea(float x, float y, float w, float h) {
    const float fx = std::floor(x), fy = std::floor(y);
    RECT r;
    r.left = int32_t(fx);
    r.top = int32_t(fy);
    r.right = int32_t(std::ceil(w) + fx);
    r.bottom = int32_t(std::ceil(h) + fy);
    return r;
}

ARGB ReplaceColor(ARGB pixel, ARGB oldColor, ARGB newColor) {
    const int pr = RedOf(pixel), pg = GreenOf(pixel), pb = BlueOf(pixel);
    const int orr = RedOf(oldColor), og = GreenOf(oldColor), ob = BlueOf(oldColor);
    if (std::abs(pr - orr) >= 64 || std::abs(pg - og) >= 64 || std::abs(pb - ob) >= 64) return pixel;
    auto mix = [](int n, int o, int p) { return uint8_t(std::clamp(n + o - p, 0, 255)); };
    return MakeARGB(AlphaOf(pixel), mix(RedOf(newColor), orr, pr), mix(GreenOf(newColor), og, pg),
                    mix(BlueOf(newColor), ob, pb));
}

int64_t ReplaceColors(Image& image, ARGB oldColor, ARGB newColor) {
    BitmapData d;
    if (image.LockBits(nullptr, ImageLockModeRead | ImageLockModeWrite, PixelFormat32bppARGB, &d) != Ok)
        return -1;
    std::atomic<int64_t> changed{0};
    ParallelRows(int(d.Height), uint64_t(d.Width) * d.Height, [&](int first, int last) {
        int64_t n = 0;
        for (int y = first; y < last; ++y) {
            auto* p = reinterpret_cast<ARGB*>(static_cast<uint8_t*>(d.Scan0) + ptrdiff_t(y) * d.Stride);
            for (uint32_t x = 0; x < d.Width; ++x) {
                const ARGB v = ReplaceColor(p[x], oldColor, newColor);
                n += v != p[x];
                p[x] = v;
            }
        }
        changed += n;
    });
    image.UnlockBits(&d);
    return changed.load();
}

Status PaintDots(Image& image, const std::vector<PointF>& points, ARGB color) {
    auto g = Graphics::FromImage(&image);
    if (Status s = g->GetLastStatus(); s != Ok) return s;
    g->SetInterpolationMode(InterpolationModeHighQualityBicubic);
    g->SetCompositingQuality(CompositingQualityHighQuality);
    g->SetSmoothingMode(SmoothingModeAntiAlias);
    g->SetPixelOffsetMode(PixelOffsetModeHighQuality);
    const SolidBrush brush(color);
    Status result = Ok;
    for (const PointF& p : points) {
        const Status s = g->FillEllipse(&brush, RectF{p.X - 3.0f, p.Y - 3.0f, 6.0f, 6.0f});
        if (s != Ok) result = s;
    }
    return result;
}

Status DrawTextAt(Image& image, const std::string& text, const Font& font, PointF origin, ARGB color) {
    auto g = Graphics::FromImage(&image);
    if (Status s = g->GetLastStatus(); s != Ok) return s;
    g->SetSmoothingMode(SmoothingModeAntiAlias);
    g->SetInterpolationMode(InterpolationModeHighQualityBicubic);
    g->SetPixelOffsetMode(PixelOffsetModeHighQuality);
    g->SetTextRenderingHint(TextRenderingHintAntiAliasGridFit);
    const SolidBrush brush(color);
    return g->DrawString(text, &font, RectF{origin.X, origin.Y, 0, 0}, &brush);
}

} // namespace zerimo
