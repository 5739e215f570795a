#include "imaging/ImageAttributes.h"

#include <cmath>

namespace imaging {

bool ColorMatrix::IsIdentity() const {
    for (int r = 0; r < 5; ++r)
        for (int c = 0; c < 4; ++c)
            if (m[r][c] != (r == c ? 1.0f : 0.0f)) return false;
    return true;
}

bool ColorAdjustment::IsNoOp() const {
    const bool matrixNoOp = !matrixEnabled || (matrix.IsIdentity() &&
                                               (flags != ColorMatrixFlagsAltGray || grayMatrix.IsIdentity()));
    return matrixNoOp && (!gammaEnabled || gamma == 1.0f);
}

namespace {
bool FiniteMatrix(const ColorMatrix& cm) {
    for (const auto& row : cm.m)
        for (float v : row)
            if (!std::isfinite(v)) return false;
    return true;
}
} // namespace

Status ImageAttributes::Fail(Status s) const {
    if (s != Ok) lastStatus_ = s;
    return s;
}

Status ImageAttributes::GetLastStatus() const {
    const Status s = lastStatus_;
    lastStatus_ = Ok;
    return s;
}

Status ImageAttributes::SetColorMatrix(const ColorMatrix* colorMatrix, ColorMatrixFlags mode,
                                       ColorAdjustType type) {
    return SetColorMatrices(colorMatrix, nullptr, mode, type);
}

Status ImageAttributes::SetColorMatrices(const ColorMatrix* colorMatrix, const ColorMatrix* grayMatrix,
                                         ColorMatrixFlags mode, ColorAdjustType type) {
    if (!ValidType(type) || !colorMatrix || !FiniteMatrix(*colorMatrix)) return Fail(InvalidParameter);
    if (mode != ColorMatrixFlagsDefault && mode != ColorMatrixFlagsSkipGrays &&
        mode != ColorMatrixFlagsAltGray)
        return Fail(InvalidParameter);
    if (mode == ColorMatrixFlagsAltGray && (!grayMatrix || !FiniteMatrix(*grayMatrix)))
        return Fail(InvalidParameter);
    ColorAdjustment& a = adjust_[type];
    a.matrixEnabled = true;
    a.matrix = *colorMatrix;
    a.grayMatrix = grayMatrix ? *grayMatrix : ColorMatrix{};
    a.flags = mode;
    return Ok;
}

Status ImageAttributes::ClearColorMatrix(ColorAdjustType type) {
    if (!ValidType(type)) return Fail(InvalidParameter);
    ColorAdjustment& a = adjust_[type];
    a.matrixEnabled = false;
    a.matrix = a.grayMatrix = ColorMatrix{};
    a.flags = ColorMatrixFlagsDefault;
    return Ok;
}

Status ImageAttributes::SetGamma(float gamma, ColorAdjustType type) {
    if (!ValidType(type) || !std::isfinite(gamma) || gamma <= 0) return Fail(InvalidParameter);
    adjust_[type].gammaEnabled = true;
    adjust_[type].gamma = gamma;
    return Ok;
}

Status ImageAttributes::ClearGamma(ColorAdjustType type) {
    if (!ValidType(type)) return Fail(InvalidParameter);
    adjust_[type].gammaEnabled = false;
    adjust_[type].gamma = 1.0f;
    return Ok;
}

Status ImageAttributes::SetWrapMode(WrapMode wrap, ARGB color, bool clamp) {
    (void)clamp;
    if (wrap < WrapModeTile || wrap > WrapModeClamp) return Fail(InvalidParameter);
    wrapSet_ = true;
    wrap_ = wrap;
    wrapColor_ = color;
    return Ok;
}

Status ImageAttributes::Reset(ColorAdjustType type) {
    if (!ValidType(type)) return Fail(InvalidParameter);
    adjust_[type] = ColorAdjustment{};
    return Ok;
}

const ColorAdjustment& ImageAttributes::Adjustment(ColorAdjustType type) const {
    return adjust_[ValidType(type) ? type : ColorAdjustTypeDefault];
}

const ColorAdjustment& ImageAttributes::BitmapAdjustment() const {
    return adjust_[ColorAdjustTypeBitmap].Any() ? adjust_[ColorAdjustTypeBitmap]
                                                : adjust_[ColorAdjustTypeDefault];
}

} // namespace imaging
