#include "ops/ColorMatrixOps.h"

#include <cmath>

namespace zerimo {

const float kPi = float(4.0 * std::atan(1.0));
const float kDegToRad = kPi / 180.0f;

void ColorMatrixOps::Identity(ColorMatrix& m) {
    m = ColorMatrix{};
}

void ColorMatrixOps::Multiply(ColorMatrix& m, const ColorMatrix& n, MatrixOrder order) {
    const ColorMatrix& a = order == MatrixOrder::Append ? m : n;
    const ColorMatrix& b = order == MatrixOrder::Append ? n : m;
    float out[5][4];
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 4; ++j) {
            float v = 0;
            for (int k = 0; k < 5; ++k) v += a.m[i][k] * b.m[k][j];
            out[i][j] = v;
        }
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 4; ++j) m.m[i][j] = out[i][j];
}

void ColorMatrixOps::Rotate(ColorMatrix& m, float degrees, int a, int b, MatrixOrder order) {
    const float t = degrees * kDegToRad;
    ColorMatrix r;
    r.m[a][a] = r.m[b][b] = float(std::cos(double(t)));
    r.m[b][a] = float(std::sin(double(t)));
    r.m[a][b] = -float(std::sin(double(t)));
    Multiply(m, r, order);
}

void ColorMatrixOps::Shear(ColorMatrix& m, float x, float y, MatrixOrder order) {
    ColorMatrix s;
    s.m[0][2] = x;
    s.m[1][2] = y;
    Multiply(m, s, order);
}

namespace {

struct HueMatrices {
    ColorMatrix pre, post;
    HueMatrices() {
        ColorMatrixOps::Rotate(pre, 45.0f, 2, 1, MatrixOrder::Append);
        ColorMatrixOps::Rotate(pre, -35.0f, 0, 2, MatrixOrder::Append);
        constexpr float lr = 0.3086f, lg = 0.6094f, lb = 0.0820f;
        float u[4];
        for (int j = 0; j < 4; ++j)
            u[j] = lr * pre.m[0][j] + lg * pre.m[1][j] + lb * pre.m[2][j] + pre.m[3][j] + pre.m[4][j];
        const float sx = u[0] / u[2], sy = u[1] / u[2];
        ColorMatrixOps::Shear(pre, sx, sy, MatrixOrder::Append);
        ColorMatrixOps::Shear(post, -sx, -sy, MatrixOrder::Append);
        ColorMatrixOps::Rotate(post, 35.0f, 0, 2, MatrixOrder::Append);
        ColorMatrixOps::Rotate(post, -45.0f, 2, 1, MatrixOrder::Append);
    }
};

} // namespace

void ColorMatrixOps::RotateHue(ColorMatrix& m, float degrees) {
    static const HueMatrices hue; // prepared on first use, kept for the process
    Multiply(m, hue.pre, MatrixOrder::Append);
    Rotate(m, degrees, 1, 0, MatrixOrder::Append);
    Multiply(m, hue.post, MatrixOrder::Append);
}

ColorMatrix FilterMatrix(float c, float b, float s, float h) {
    ColorMatrix m;
    ColorMatrix contrast;
    for (int i = 0; i < 3; ++i) contrast.m[i][i] = c;
    ColorMatrixOps::Multiply(m, contrast, MatrixOrder::Prepend);
    ColorMatrix brightness;
    for (int j = 0; j < 3; ++j) brightness.m[4][j] = b;
    ColorMatrixOps::Multiply(m, brightness, MatrixOrder::Append);
    constexpr float lr = 0.3086f, lg = 0.6094f, lb = 0.0820f;
    const float t = 1.0f - s;
    ColorMatrix sat;
    const float l[3] = {lr * t, lg * t, lb * t};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) sat.m[i][j] = l[i] + (i == j ? s : 0.0f);
    ColorMatrixOps::Multiply(m, sat, MatrixOrder::Append);
    ColorMatrixOps::RotateHue(m, h);
    return m;
}

ColorMatrix BalanceMatrix(int red, int green, int blue, int alpha) {
    ColorMatrix m;
    m.m[3][3] = float(double(alpha) / 100.0);
    m.m[4][0] = float(double(red) / 255.0);
    m.m[4][1] = float(double(green) / 255.0);
    m.m[4][2] = float(double(blue) / 255.0);
    return m;
}

ColorMatrix SepiaMatrix() {
    ColorMatrix m;
    const float rows[3][3] = {{0.393f, 0.349f, 0.272f}, {0.769f, 0.686f, 0.534f}, {0.189f, 0.168f, 0.131f}};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) m.m[i][j] = rows[i][j];
    return m;
}

ColorMatrix NegateMatrix() {
    ColorMatrix m;
    ColorMatrix diag;
    for (int i = 0; i < 3; ++i) diag.m[i][i] = -1.0f;
    ColorMatrixOps::Multiply(m, diag, MatrixOrder::Append);
    ColorMatrix shift;
    for (int j = 0; j < 3; ++j) shift.m[4][j] = 1.0f;
    ColorMatrixOps::Multiply(m, shift, MatrixOrder::Append);
    return m;
}

} // namespace zerimo
