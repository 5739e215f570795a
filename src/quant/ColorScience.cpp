#include "quant/ColorScience.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace zerimo {

namespace {

constexpr double kEpsilon = 0.008856;
constexpr double kKappa = 903.3;
constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;

// The linearised value of every byte: the conversion only ever sees bytes, so this is exact.
const std::array<double, 256>& LinearTable() {
    static const std::array<double, 256> table = [] {
        std::array<double, 256> t{};
        for (int i = 0; i < 256; ++i) {
            const double v = i / 255.0;
            t[i] = v < 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        }
        return t;
    }();
    return table;
}

double LabF(double t) {
    return t > kEpsilon ? std::cbrt(t) : (kKappa * t + 16) / 116;
}

double Compand(double v) {
    return v > 0.0031308 ? 1.055 * std::pow(v, 1 / 2.4) - 0.055 : 12.92 * v;
}

uint32_t ToByte(double v) {
    const double r = std::nearbyint(v * 255);
    if (!(r > 0)) return 0; // NaN included
    return r > 255 ? 255u : uint32_t(r);
}

} // namespace

LabColor ArgbToLab(imaging::ARGB argb) {
    const auto& lin = LinearTable();
    const double r = lin[(argb >> 16) & 0xFF], g = lin[(argb >> 8) & 0xFF], b = lin[argb & 0xFF];
    const double x = (0.4124 * r + 0.3576 * g + 0.1805 * b) * 100 / 95.047;
    const double y = (0.2126 * r + 0.7152 * g + 0.0722 * b) * 100 / 100;
    const double z = (0.0193 * r + 0.1192 * g + 0.9505 * b) * 100 / 108.883;
    const float fx = float(LabF(x)), fy = float(LabF(y)), fz = float(LabF(z));
    LabColor lab;
    lab.alpha = uint8_t(argb >> 24);
    lab.L = double(std::max(0.0f, 116.0f * fy - 16.0f));
    lab.a = double(500.0f * (fx - fy));
    lab.b = double(200.0f * (fy - fz));
    return lab;
}

imaging::ARGB LabToArgb(const LabColor& lab) {
    const double fy = (lab.L + 16) / 116;
    const double fx = lab.a / 500 + fy;
    const double fz = fy - lab.b / 200;
    const double fx3 = fx * fx * fx, fz3 = fz * fz * fz;
    const double x = (fx3 > kEpsilon ? fx3 : (116 * fx - 16) / kKappa) * 95.047;
    const double y = (lab.L > kKappa * kEpsilon ? fy * fy * fy : lab.L / kKappa) * 100;
    const double z = (fz3 > kEpsilon ? fz3 : (116 * fz - 16) / kKappa) * 108.883;
    const double r = (3.2406 * x - 1.5372 * y - 0.4986 * z) / 100;
    const double g = (-0.9689 * x + 1.8758 * y + 0.0415 * z) / 100;
    const double b = (0.0557 * x - 0.2040 * y + 1.0570 * z) / 100;
    return (uint32_t(lab.alpha) << 24) | (ToByte(Compand(r)) << 16) | (ToByte(Compand(g)) << 8) |
           ToByte(Compand(b));
}

double HueDifferenceTerm(const LabColor& lab1, const LabColor& lab2, double aPrime1, double aPrime2,
                         double cPrime1, double cPrime2, double& meanCPrime, double& meanHPrime) {
    auto hue = [](double b, double a) {
        if (b == 0 && a == 0) return 0.0;
        const double h = std::atan2(b, a);
        return h < 0 ? h + 2 * kPi : h;
    };
    const double h1 = hue(lab1.b, aPrime1), h2 = hue(lab2.b, aPrime2);
    const double p = cPrime1 * cPrime2;
    double dh = 0;
    if (p != 0) {
        dh = h2 - h1;
        if (dh < -kPi)
            dh += 2 * kPi;
        else if (dh > kPi)
            dh -= 2 * kPi;
    }
    const double dH = 2 * std::sqrt(p) * std::sin(dh / 2);
    double hMean = h1 + h2;
    if (p != 0) {
        const double s = h1 + h2;
        if (std::fabs(h1 - h2) <= kPi)
            hMean = s / 2;
        else if (s < 2 * kPi)
            hMean = (s + 2 * kPi) / 2;
        else
            hMean = (s - 2 * kPi) / 2;
    }
    const double cMean = (cPrime1 + cPrime2) / 2;
    const double t = 1 - 0.17 * std::cos(hMean - 30 * kDeg) + 0.24 * std::cos(2 * hMean) +
                     0.32 * std::cos(3 * hMean + 6 * kDeg) - 0.20 * std::cos(4 * hMean - 63 * kDeg);
    const double sH = 1 + 0.015 * cMean * t;
    meanCPrime = cMean;
    meanHPrime = hMean;
    return dH / sH;
}

double RotationTerm(double meanCPrime, double meanHPrime, double x, double y) {
    const double e = (meanHPrime - 275 * kDeg) / (25 * kDeg);
    const double dTheta = 30 * kDeg * std::exp(-e * e);
    const double c7 = std::pow(meanCPrime, 7);
    const double rC = 2 * std::sqrt(c7 / (c7 + 6103515625.0));
    return -std::sin(2 * dTheta) * rC * x * y;
}

} // namespace zerimo
