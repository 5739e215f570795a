#pragma once
/// How drawn images are recoloured and how their edges are sampled: a 5x5 colour matrix and a gamma
/// per adjustment category, and one wrap mode. Changing attributes changes later draws, never the
/// image drawn.

#include "imaging/Types.h"

namespace imaging {

enum ColorAdjustType : int {
    ColorAdjustTypeDefault = 0,
    ColorAdjustTypeBitmap = 1,
    ColorAdjustTypeBrush = 2,
    ColorAdjustTypePen = 3,
    ColorAdjustTypeText = 4,
    ColorAdjustTypeCount = 5,
    ColorAdjustTypeAny = 6,
};

enum ColorMatrixFlags : int {
    ColorMatrixFlagsDefault = 0,
    /// Pixels with red = green = blue are left as they are.
    ColorMatrixFlagsSkipGrays = 1,
    /// Pixels with red = green = blue go through the grey matrix instead.
    ColorMatrixFlagsAltGray = 2,
};

/// How samples beyond the image's edges are found: tiled, mirrored on one or both axes, or taken
/// from the border colour (Clamp).
enum WrapMode : int {
    WrapModeTile = 0,
    WrapModeTileFlipX = 1,
    WrapModeTileFlipY = 2,
    WrapModeTileFlipXY = 3,
    WrapModeClamp = 4,
};

/// Row-vector convention: [r g b a 1] x m with components in 0..1; row 4 is the translation and
/// column 4 is ignored.
struct ColorMatrix {
    float m[5][5] = {{1, 0, 0, 0, 0}, {0, 1, 0, 0, 0}, {0, 0, 1, 0, 0}, {0, 0, 0, 1, 0}, {0, 0, 0, 0, 1}};

    /// True when columns 0 to 3 are those of the identity.
    bool IsIdentity() const;
};

/// The settings of one adjustment category.
struct ColorAdjustment {
    bool matrixEnabled = false;
    ColorMatrix matrix;
    ColorMatrix grayMatrix;
    ColorMatrixFlags flags = ColorMatrixFlagsDefault;
    bool gammaEnabled = false;
    float gamma = 1.0f;

    bool Any() const { return matrixEnabled || gammaEnabled; }
    /// True when drawing through it changes no colour.
    bool IsNoOp() const;
};

class ImageAttributes {
  public:
    ImageAttributes() = default;
    ImageAttributes(const ImageAttributes&) = default;
    ImageAttributes& operator=(const ImageAttributes&) = default;
    ImageAttributes Clone() const { return *this; }

    /// AltGray needs `grayMatrix`; otherwise it may be null.
    Status SetColorMatrix(const ColorMatrix* colorMatrix, ColorMatrixFlags mode = ColorMatrixFlagsDefault,
                          ColorAdjustType type = ColorAdjustTypeDefault);
    Status SetColorMatrices(const ColorMatrix* colorMatrix, const ColorMatrix* grayMatrix,
                            ColorMatrixFlags mode = ColorMatrixFlagsDefault,
                            ColorAdjustType type = ColorAdjustTypeDefault);
    Status ClearColorMatrix(ColorAdjustType type = ColorAdjustTypeDefault);
    /// Colour channels become c^gamma (alpha is kept); gamma must be positive.
    Status SetGamma(float gamma, ColorAdjustType type = ColorAdjustTypeDefault);
    Status ClearGamma(ColorAdjustType type = ColorAdjustTypeDefault);
    /// `color` is the border of WrapModeClamp; `clamp` is accepted and has no effect.
    Status SetWrapMode(WrapMode wrap, ARGB color = 0xFF000000, bool clamp = false);
    /// Clears the colour matrix and gamma of `type`; the wrap mode is kept.
    Status Reset(ColorAdjustType type = ColorAdjustTypeDefault);

    /// The status of the last failed call, cleared by reading it.
    Status GetLastStatus() const;

    const ColorAdjustment& Adjustment(ColorAdjustType type) const;
    /// What a drawn bitmap goes through: the Bitmap category once anything is set there (it then
    /// replaces Default entirely), otherwise Default.
    const ColorAdjustment& BitmapAdjustment() const;
    /// False until SetWrapMode: drawing then extends the edge pixels outwards.
    bool HasWrapMode() const { return wrapSet_; }
    WrapMode GetWrapMode() const { return wrap_; }
    ARGB GetWrapColor() const { return wrapColor_; }

  private:
    Status Fail(Status s) const;
    static bool ValidType(ColorAdjustType type) {
        return type >= ColorAdjustTypeDefault && type < ColorAdjustTypeCount;
    }

    ColorAdjustment adjust_[ColorAdjustTypeCount];
    bool wrapSet_ = false;
    WrapMode wrap_ = WrapModeClamp;
    ARGB wrapColor_ = 0xFF000000;
    mutable Status lastStatus_ = Ok;
};

} // namespace imaging
