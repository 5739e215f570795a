#pragma once
/// The geometric operations' drawing: the canvas of a free rotation, the rotated draw with smooth
/// edges, the high-quality resize, and the sizes of the screen-fitting resizes. The document makes
/// the target bitmaps (with the source's resolution) and installs the results.

#include "imaging/Image.h"
#include "imaging/Types.h"

namespace zerimo {

/// The canvas of a W x H image turned by `degrees`: ceil(|W c| + |H s|) x ceil(|W s| + |H c|) as the
/// four turned corners give it in single precision.
imaging::Size RotatedCanvasSize(uint32_t width, uint32_t height, double degrees);

/// Draws `src` turned by `degrees` (clockwise on screen) about its centre onto the centre of `dst`,
/// bilinear, with anti-aliased edges; what the image does not cover keeps dst's pixels.
imaging::Status DrawRotatedImage(imaging::Image& dst, imaging::Image& src, double degrees);

/// Draws all of `src` into all of `dst` with high-quality bicubic filtering, the edges mirrored.
imaging::Status DrawResizedImage(imaging::Image& dst, imaging::Image& src);

/// Resize To Screen Proportional: (W x V / H, V) for a screen V pixels high, in single precision.
imaging::SizeF ScreenProportionalSize(uint32_t width, uint32_t height, int screenHeight);

/// The Image size dialog: the two sizes, the ratio taken when it opens, and Keep proportions. A
/// change of one size sets the other while Keep proportions is on; the change it makes is not
/// taken as a typed change in turn.
class CSizeDialogState {
  public:
    static constexpr int32_t kMinimum = 1, kMaximum = 4000;

    CSizeDialogState(int32_t imageWidth, int32_t imageHeight);
    int32_t width;
    int32_t height;
    float ratio;
    bool keepProportions = true;

    /// The width (height) field was changed to `value`, by typing or by the spin control.
    void OnWidthChanged(int32_t value);
    void OnHeightChanged(int32_t value);
    /// OK is taken when both sizes lie in 1..4000.
    bool Valid() const;

  private:
    bool updating_ = false;
};

/// The Rotate Image dialog's angle: 45 at first; the spin control runs from -359 to 359, the field
/// takes any 32-bit integer.
struct CRotateDialogState {
    static constexpr int32_t kSpinMinimum = -359, kSpinMaximum = 359;
    int32_t angle = 45;
};

} // namespace zerimo
