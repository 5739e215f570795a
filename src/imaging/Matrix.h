#pragma once
/// The 3x2 affine matrix of world transforms. Points are row vectors: [x y 1] x M, so
/// x' = x m11 + y m21 + dx and y' = x m12 + y m22 + dy. Prepending N makes N act first (M := N x M),
/// appending makes it act last (M := M x N).

#include "imaging/Types.h"

namespace imaging {

enum MatrixOrder : int { MatrixOrderPrepend = 0, MatrixOrderAppend = 1 };

class Matrix {
  public:
    Matrix() = default;
    Matrix(float m11, float m12, float m21, float m22, float dx, float dy);

    /// m11, m12, m21, m22, dx, dy.
    Status GetElements(float* m) const;
    Status SetElements(float m11, float m12, float m21, float m22, float dx, float dy);
    float OffsetX() const { return m_[4]; }
    float OffsetY() const { return m_[5]; }

    Status Reset();
    Status Multiply(const Matrix& other, MatrixOrder order = MatrixOrderPrepend);
    Status Translate(float offsetX, float offsetY, MatrixOrder order = MatrixOrderPrepend);
    Status Scale(float scaleX, float scaleY, MatrixOrder order = MatrixOrderPrepend);
    /// `angle` in degrees; positive turns clockwise on a y-down surface.
    Status Rotate(float angle, MatrixOrder order = MatrixOrderPrepend);
    /// InvalidParameter when the matrix is singular; the matrix is then left unchanged.
    Status Invert();

    bool IsIdentity() const;
    bool IsInvertible() const;
    Status TransformPoints(PointF* points, int count) const;

    friend bool operator==(const Matrix& a, const Matrix& b);

  private:
    float m_[6] = {1, 0, 0, 1, 0, 0};
};

} // namespace imaging
