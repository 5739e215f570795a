#include "imaging/Matrix.h"

#include <cmath>
#include <numbers>

namespace imaging {

namespace {

bool Finite(const float* m, int n) {
    for (int i = 0; i < n; ++i)
        if (!std::isfinite(m[i])) return false;
    return true;
}

// a x b, both as {m11, m12, m21, m22, dx, dy}; products in double so that chains of
// small steps keep their precision.
void Mul(const float* a, const float* b, float* out) {
    const double r0 = double(a[0]) * b[0] + double(a[1]) * b[2];
    const double r1 = double(a[0]) * b[1] + double(a[1]) * b[3];
    const double r2 = double(a[2]) * b[0] + double(a[3]) * b[2];
    const double r3 = double(a[2]) * b[1] + double(a[3]) * b[3];
    const double r4 = double(a[4]) * b[0] + double(a[5]) * b[2] + b[4];
    const double r5 = double(a[4]) * b[1] + double(a[5]) * b[3] + b[5];
    out[0] = float(r0), out[1] = float(r1), out[2] = float(r2);
    out[3] = float(r3), out[4] = float(r4), out[5] = float(r5);
}

} // namespace

Matrix::Matrix(float m11, float m12, float m21, float m22, float dx, float dy)
    : m_{m11, m12, m21, m22, dx, dy} {}

Status Matrix::GetElements(float* m) const {
    if (!m) return InvalidParameter;
    for (int i = 0; i < 6; ++i) m[i] = m_[i];
    return Ok;
}

Status Matrix::SetElements(float m11, float m12, float m21, float m22, float dx, float dy) {
    const float m[6] = {m11, m12, m21, m22, dx, dy};
    if (!Finite(m, 6)) return InvalidParameter;
    for (int i = 0; i < 6; ++i) m_[i] = m[i];
    return Ok;
}

Status Matrix::Reset() {
    *this = Matrix();
    return Ok;
}

Status Matrix::Multiply(const Matrix& other, MatrixOrder order) {
    if (order != MatrixOrderPrepend && order != MatrixOrderAppend) return InvalidParameter;
    float out[6];
    if (order == MatrixOrderPrepend)
        Mul(other.m_, m_, out);
    else
        Mul(m_, other.m_, out);
    if (!Finite(out, 6)) return InvalidParameter;
    for (int i = 0; i < 6; ++i) m_[i] = out[i];
    return Ok;
}

Status Matrix::Translate(float offsetX, float offsetY, MatrixOrder order) {
    return Multiply(Matrix(1, 0, 0, 1, offsetX, offsetY), order);
}

Status Matrix::Scale(float scaleX, float scaleY, MatrixOrder order) {
    return Multiply(Matrix(scaleX, 0, 0, scaleY, 0, 0), order);
}

Status Matrix::Rotate(float angle, MatrixOrder order) {
    if (!std::isfinite(angle)) return InvalidParameter;
    const double t = double(angle) * (std::numbers::pi / 180.0);
    const float c = float(std::cos(t)), s = float(std::sin(t));
    return Multiply(Matrix(c, s, -s, c, 0, 0), order);
}

Status Matrix::Invert() {
    const double det = double(m_[0]) * m_[3] - double(m_[1]) * m_[2];
    if (det == 0 || !std::isfinite(det)) return InvalidParameter;
    const double i0 = m_[3] / det, i1 = -m_[1] / det, i2 = -m_[2] / det, i3 = m_[0] / det;
    const double i4 = -(m_[4] * i0 + m_[5] * i2), i5 = -(m_[4] * i1 + m_[5] * i3);
    const float out[6] = {float(i0), float(i1), float(i2), float(i3), float(i4), float(i5)};
    if (!Finite(out, 6)) return InvalidParameter;
    for (int i = 0; i < 6; ++i) m_[i] = out[i];
    return Ok;
}

bool Matrix::IsIdentity() const {
    return *this == Matrix();
}

bool Matrix::IsInvertible() const {
    const double det = double(m_[0]) * m_[3] - double(m_[1]) * m_[2];
    return det != 0 && std::isfinite(det);
}

Status Matrix::TransformPoints(PointF* points, int count) const {
    if (!points || count <= 0) return InvalidParameter;
    for (int i = 0; i < count; ++i) {
        const double x = points[i].X, y = points[i].Y;
        points[i].X = float(x * m_[0] + y * m_[2] + m_[4]);
        points[i].Y = float(x * m_[1] + y * m_[3] + m_[5]);
    }
    return Ok;
}

bool operator==(const Matrix& a, const Matrix& b) {
    for (int i = 0; i < 6; ++i)
        if (a.m_[i] != b.m_[i]) return false;
    return true;
}

} // namespace imaging
