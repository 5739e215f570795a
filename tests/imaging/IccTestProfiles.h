#pragma once
/// Small ICC profiles made with lcms2 whose effect on a colour is known without colour science:
/// they move pure colours to other pure colours, or make mid grey lighter.

#include <lcms2.h>

#include <cstdint>
#include <vector>

namespace icctest {

inline std::vector<uint8_t> Save(cmsHPROFILE h) {
    std::vector<uint8_t> out;
    cmsUInt32Number size = 0;
    if (h && cmsSaveProfileToMem(h, nullptr, &size) && size) {
        out.resize(size);
        if (!cmsSaveProfileToMem(h, out.data(), &size)) out.clear();
    }
    if (h) cmsCloseProfile(h);
    return out;
}

inline cmsToneCurve* SrgbCurve() {
    const cmsFloat64Number p[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    return cmsBuildParametricToneCurve(nullptr, 4, p);
}

inline std::vector<uint8_t> Rgb(const cmsCIExyYTRIPLE& primaries, cmsToneCurve* curve) {
    const cmsCIExyY d65 = {0.3127, 0.3290, 1.0};
    cmsToneCurve* curves[3] = {curve, curve, curve};
    std::vector<uint8_t> out = Save(cmsCreateRGBProfile(&d65, &primaries, curves));
    cmsFreeToneCurve(curve);
    return out;
}

/// sRGB's curves and white, but its red is sRGB's green, its green sRGB's blue, its blue sRGB's red.
inline std::vector<uint8_t> PermutedRgb() {
    return Rgb({{0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}, {0.64, 0.33, 1.0}}, SrgbCurve());
}

/// sRGB's primaries with linear curves: 128 means half the light, which sRGB writes as 188.
inline std::vector<uint8_t> LinearRgb() {
    return Rgb({{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}}, cmsBuildGamma(nullptr, 1.0));
}

inline std::vector<uint8_t> LinearGray() {
    const cmsCIExyY d65 = {0.3127, 0.3290, 1.0};
    cmsToneCurve* curve = cmsBuildGamma(nullptr, 1.0);
    std::vector<uint8_t> out = Save(cmsCreateGrayProfile(&d65, curve));
    cmsFreeToneCurve(curve);
    return out;
}

/// A CMYK profile (C, M, Y, K with 65535 = full ink) whose colours are those of plain ink
/// subtraction with red and blue exchanged: cyan ink shows as yellow, full magenta and yellow as blue.
inline std::vector<uint8_t> SwappedCmyk() {
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    cmsHTRANSFORM toLab =
        cmsCreateTransform(srgb, TYPE_RGB_DBL, lab, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
    auto sampler = [](const cmsUInt16Number in[], cmsUInt16Number out[], void* cargo) -> cmsInt32Number {
        const double k = 1 - in[3] / 65535.0;
        const double rgb[3] = {(1 - in[2] / 65535.0) * k, (1 - in[1] / 65535.0) * k,
                               (1 - in[0] / 65535.0) * k};
        cmsCIELab lab;
        cmsDoTransform(static_cast<cmsHTRANSFORM>(cargo), rgb, &lab, 1);
        cmsFloat2LabEncodedV2(out, &lab);
        return TRUE;
    };
    cmsStage* clut = cmsStageAllocCLut16bit(nullptr, 2, 4, 3, nullptr);
    cmsStageSampleCLut16bit(clut, sampler, toLab, 0);
    cmsPipeline* pipe = cmsPipelineAlloc(nullptr, 4, 3);
    cmsPipelineInsertStage(pipe, cmsAT_BEGIN, clut);

    cmsHPROFILE h = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(h, 2.1);
    cmsSetDeviceClass(h, cmsSigOutputClass);
    cmsSetColorSpace(h, cmsSigCmykData);
    cmsSetPCS(h, cmsSigLabData);
    cmsWriteTag(h, cmsSigMediaWhitePointTag, cmsD50_XYZ());
    cmsWriteTag(h, cmsSigAToB0Tag, pipe);
    cmsPipelineFree(pipe);
    cmsDeleteTransform(toLab);
    cmsCloseProfile(lab);
    cmsCloseProfile(srgb);
    return Save(h);
}

} // namespace icctest
