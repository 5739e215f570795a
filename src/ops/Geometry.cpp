#include "ops/Geometry.h"

#include "imaging/Graphics.h"
#include "imaging/ImageAttributes.h"

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

Status DrawRotatedImage(Image& dst, Image& src, double degrees) {
    auto g = Graphics::FromImage(&dst);
    if (Status s = g->GetLastStatus(); s != Ok) return s;
    const int32_t w = int32_t(src.GetWidth()), h = int32_t(src.GetHeight());
    const int32_t nw = int32_t(dst.GetWidth()), nh = int32_t(dst.GetHeight());
    g->SetCompositingQuality(CompositingQualityHighQuality);
    g->SetCompositingMode(CompositingModeSourceOver);
    g->SetPixelOffsetMode(PixelOffsetModeHighQuality);
    g->TranslateTransform(float(-(w / 2)), float(-(h / 2)));
    g->RotateTransform(float(degrees), MatrixOrderAppend);
    g->TranslateTransform(float(nw / 2), float(nh / 2), MatrixOrderAppend);
    g->SetSmoothingMode(SmoothingModeAntiAlias);
    return g->DrawImage(&src, RectF{0, 0, float(w), float(h)}, 0, 0, float(w), float(h), UnitPixel);
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

} // namespace zerimo
