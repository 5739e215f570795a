#pragma once
/// Effects applied while drawing (DrawImageFX): red-eye correction over rectangles of the image.

#include "imaging/Graphics.h"
#include "imaging/Image.h"
#include "imaging/Matrix.h"

#include <memory>
#include <vector>

namespace imaging {

inline constexpr Guid RedEyeCorrectionEffectGuid =
    MakeGuid(0x74d29d05, 0x69a4, 0x4266, 0x95, 0x49, 0x3c, 0xc5, 0x28, 0x36, 0xb6, 0x32);

/// A rectangle as left, top, right, bottom (right and bottom exclusive), in image pixels.
struct RECT {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
};

/// The parameter block of the red-eye effect: a count and a pointer to that many areas. Its size,
/// as the caller announces it, is (numberOfAreas + 1) * 16 bytes.
struct RedEyeCorrectionParams {
    uint32_t numberOfAreas = 0;
    RECT* areas = nullptr;
};

class Effect {
  public:
    virtual ~Effect() = default;
    /// The effect of that GUID, or null when there is none.
    static std::unique_ptr<Effect> Create(const Guid& id);
    /// Copies the parameter block; InvalidParameter when `size` does not fit it.
    virtual Status SetParameters(const void* params, uint32_t size) = 0;
    /// Changes the pixels of a bitmap in place (the drawn result).
    virtual Status Apply(Image& bitmap) const = 0;
};

/// Lowers the red of strongly red pixels inside the areas to the level of their green and blue, so
/// a flash-lit pupil turns dark; pixels that are not clearly red, and alpha, stay as they are.
class RedEyeCorrectionEffect final : public Effect {
  public:
    Status SetParameters(const void* params, uint32_t size) override;
    Status Apply(Image& bitmap) const override;
    const std::vector<RECT>& Areas() const { return areas_; }

  private:
    std::vector<RECT> areas_;
};

/// Draws `image`'s source rectangle (null: all of it) through `effect`, placed by `xForm` (null:
/// identity) on top of the graphics' own transform, and through `imageAttributes`. The effect works
/// on a copy, so the source image is unchanged.
Status DrawImageFX(Graphics& graphics, Image* image, const RectF* sourceRect, const Matrix* xForm,
                   const Effect* effect, const ImageAttributes* imageAttributes, Unit srcUnit);

} // namespace imaging
