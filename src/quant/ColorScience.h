#pragma once
/// CIELAB (sRGB primaries, D65 white) and the CIEDE2000 terms the quantizers share. Pure functions,
/// safe on any thread.

#include "imaging/Types.h"

namespace zerimo {

/// One colour in CIELAB; the alpha byte rides along unchanged.
struct LabColor {
    uint8_t alpha = 0;
    double a = 0;
    double b = 0;
    double L = 0;
};

LabColor ArgbToLab(imaging::ARGB argb);
imaging::ARGB LabToArgb(const LabColor& lab);

/// The CIEDE2000 hue term dH'/SH (kH = 1) for two colours with the caller's modified a' and C';
/// also gives the mean chroma C' and mean hue H' (radians) that RotationTerm needs.
double HueDifferenceTerm(const LabColor& lab1, const LabColor& lab2, double aPrime1, double aPrime2,
                         double cPrime1, double cPrime2, double& meanCPrime, double& meanHPrime);
/// RT * x * y with x = dC'/SC and y = dH'/SH.
double RotationTerm(double meanCPrime, double meanHPrime, double x, double y);

} // namespace zerimo
