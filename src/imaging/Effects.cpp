#include "imaging/Effects.h"

#include <algorithm>

namespace imaging {

std::unique_ptr<Effect> Effect::Create(const Guid& id) {
    if (id == RedEyeCorrectionEffectGuid) return std::make_unique<RedEyeCorrectionEffect>();
    return nullptr;
}

Status RedEyeCorrectionEffect::SetParameters(const void* params, uint32_t size) {
    if (!params) return InvalidParameter;
    const auto* p = static_cast<const RedEyeCorrectionParams*>(params);
    if (p->numberOfAreas == 0 || p->numberOfAreas > (1u << 20) || !p->areas ||
        uint64_t(size) != (uint64_t(p->numberOfAreas) + 1) * 16)
        return InvalidParameter;
    areas_.assign(p->areas, p->areas + p->numberOfAreas);
    return Ok;
}

namespace {

// How clearly red a pixel is: 0 below the threshold, 1 for a saturated red.
float Redness(int r, int g, int b) {
    const int other = std::max(g, b);
    if (r < 64) return 0.0f;
    const float ratio = float(r) / float(std::max(other, 1));
    return std::clamp((ratio - 1.5f) / 0.8f, 0.0f, 1.0f);
}

} // namespace

Status RedEyeCorrectionEffect::Apply(Image& bitmap) const {
    const int32_t w = int32_t(bitmap.GetWidth()), h = int32_t(bitmap.GetHeight());
    for (const RECT& a : areas_) {
        const int32_t left = std::max(a.left, 0), top = std::max(a.top, 0);
        const int32_t right = std::min(a.right, w), bottom = std::min(a.bottom, h);
        if (left >= right || top >= bottom) continue;
        Rect r{left, top, right - left, bottom - top};
        BitmapData d;
        if (Status s = bitmap.LockBits(&r, ImageLockModeRead | ImageLockModeWrite, PixelFormat32bppARGB, &d);
            s != Ok)
            return s;
        for (uint32_t y = 0; y < d.Height; ++y) {
            uint8_t* p = static_cast<uint8_t*>(d.Scan0) + int64_t(y) * d.Stride;
            for (uint32_t x = 0; x < d.Width; ++x, p += 4) {
                const float k = Redness(p[2], p[1], p[0]);
                if (k <= 0.0f) continue;
                const float target = (float(p[1]) + float(p[0])) * 0.5f;
                p[2] = uint8_t(float(p[2]) + (target - float(p[2])) * k + 0.5f);
            }
        }
        if (Status s = bitmap.UnlockBits(&d); s != Ok) return s;
    }
    return Ok;
}

Status DrawImageFX(Graphics& graphics, Image* image, const RectF* sourceRect, const Matrix* xForm,
                   const Effect* effect, const ImageAttributes* imageAttributes, Unit srcUnit) {
    if (!image || srcUnit != UnitPixel) return InvalidParameter;
    const RectF whole{0, 0, float(image->GetWidth()), float(image->GetHeight())};
    const RectF src = sourceRect ? *sourceRect : whole;
    std::shared_ptr<Image> copy;
    if (effect) {
        // The effect's areas are in image pixels, so it runs on a copy of the whole image.
        copy = image->Clone(Rect{0, 0, int32_t(image->GetWidth()), int32_t(image->GetHeight())},
                            PixelFormat32bppARGB);
        if (Status s = copy->GetLastStatus(); s != Ok) return s;
        if (Status s = effect->Apply(*copy); s != Ok) return s;
    }
    Matrix saved;
    if (Status s = graphics.GetTransform(&saved); s != Ok) return s;
    if (xForm) graphics.MultiplyTransform(xForm, MatrixOrderPrepend);
    Status s = graphics.DrawImage(copy ? copy.get() : image, src, src.X, src.Y, src.Width, src.Height,
                                  UnitPixel, imageAttributes);
    graphics.SetTransform(&saved);
    return s;
}

} // namespace imaging
