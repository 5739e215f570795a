#pragma once
/// Colour-matrix arithmetic of the pending adjustments, and the matrices the adjustments build:
/// Filter (contrast, brightness, saturation, hue), Color Balance, Sepia Tone and Negate.

#include "imaging/ImageAttributes.h"

namespace zerimo {

using imaging::ColorMatrix;

/// π as the single-precision value of 4 atan(1), and π / 180 in single precision.
extern const float kPi;
extern const float kDegToRad;

enum class MatrixOrder { Prepend, Append };

/// Operations on one 5 x 5 matrix. A product computes columns 0 to 3 only; column 4 of the matrix
/// keeps its values.
struct ColorMatrixOps {
    static void Identity(ColorMatrix& m);
    /// Append: m := m x n. Prepend: m := n x m.
    static void Multiply(ColorMatrix& m, const ColorMatrix& n, MatrixOrder order);
    /// Rotation by `degrees` in the plane of channels a and b (0 red, 1 green, 2 blue).
    static void Rotate(ColorMatrix& m, float degrees, int a, int b, MatrixOrder order);
    /// Sh[0][2] = x, Sh[1][2] = y.
    static void Shear(ColorMatrix& m, float x, float y, MatrixOrder order);
    /// Rotation of the hues about the grey axis by `degrees`.
    static void RotateHue(ColorMatrix& m, float degrees);
};

/// The Filter adjustment's matrix from contrast c, brightness b, saturation s and hue h (degrees).
ColorMatrix FilterMatrix(float contrast, float brightness, float saturation, float hue);
/// Colour balance: red, green and blue offsets in -255..255, alpha 0..100 percent.
ColorMatrix BalanceMatrix(int red, int green, int blue, int alpha);
ColorMatrix SepiaMatrix();
ColorMatrix NegateMatrix();

} // namespace zerimo
