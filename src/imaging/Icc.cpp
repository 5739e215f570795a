#include "imaging/Icc.h"

#include <lcms2.h>

#include <cmath>
#include <vector>

namespace imaging {

namespace {

// Damaged profiles are a property of the file, not a fault of the program: say nothing.
void QuietErrors(cmsContext, cmsUInt32Number, const char*) {}

/// One lcms2 context with its own silent error handler, and the profiles and transform made in it;
/// everything is released in the right order on every path.
class Session {
  public:
    Session() : ctx_(cmsCreateContext(nullptr, nullptr)) {
        if (ctx_) cmsSetLogErrorHandlerTHR(ctx_, QuietErrors);
    }
    ~Session() {
        if (transform_) cmsDeleteTransform(transform_);
        if (source_) cmsCloseProfile(source_);
        if (srgb_) cmsCloseProfile(srgb_);
        if (ctx_) cmsDeleteContext(ctx_);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool OpenSource(const uint8_t* icc, size_t size, cmsColorSpaceSignature space) {
        // 128 bytes of header and the tag count are the least a profile can be.
        if (!ctx_ || !icc || size < 132 || size > UINT32_MAX) return false;
        source_ = cmsOpenProfileFromMemTHR(ctx_, icc, cmsUInt32Number(size));
        return source_ && cmsGetColorSpace(source_) == space;
    }
    bool MakeSource(double fileGamma, const double* chrm) {
        if (!ctx_ || !std::isfinite(fileGamma) || fileGamma <= 0.01 || fileGamma > 100) return false;
        cmsCIExyY white = {0.3127, 0.3290, 1.0};
        cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
        if (chrm) {
            for (int i = 0; i < 8; ++i)
                if (!std::isfinite(chrm[i]) || chrm[i] < 0 || chrm[i] > 1) return false;
            for (int i = 1; i < 8; i += 2)
                if (chrm[i] <= 0) return false;
            white = {chrm[0], chrm[1], 1.0};
            primaries = {{chrm[2], chrm[3], 1.0}, {chrm[4], chrm[5], 1.0}, {chrm[6], chrm[7], 1.0}};
        }
        cmsToneCurve* curve = cmsBuildGamma(ctx_, 1.0 / fileGamma);
        if (!curve) return false;
        cmsToneCurve* curves[3] = {curve, curve, curve};
        source_ = cmsCreateRGBProfileTHR(ctx_, &white, &primaries, curves);
        cmsFreeToneCurve(curve);
        return source_ != nullptr;
    }
    bool MakeTransform(cmsUInt32Number inFormat, cmsUInt32Number outFormat, cmsUInt32Number flags) {
        srgb_ = cmsCreate_sRGBProfileTHR(ctx_);
        if (!srgb_) return false;
        transform_ =
            cmsCreateTransformTHR(ctx_, source_, inFormat, srgb_, outFormat, INTENT_PERCEPTUAL, flags);
        return transform_ != nullptr;
    }
    cmsHTRANSFORM Transform() const { return transform_; }

  private:
    cmsContext ctx_ = nullptr;
    cmsHPROFILE source_ = nullptr;
    cmsHPROFILE srgb_ = nullptr;
    cmsHTRANSFORM transform_ = nullptr;
};

/// The lcms2 layout of a stored RGB format (bytes B, G, R[, A or unused]); 0 for other formats.
cmsUInt32Number LayoutOf(PixelFormat f) {
    switch (f) {
    case PixelFormat24bppRGB:
        return TYPE_BGR_8;
    case PixelFormat32bppRGB:
    case PixelFormat32bppARGB:
        return TYPE_BGRA_8;
    default:
        return 0;
    }
}

bool TransformSurface(Session& s, Surface& pixels) {
    const cmsUInt32Number layout = LayoutOf(pixels.format);
    if (pixels.Empty() || layout == 0 || !s.MakeTransform(layout, layout, cmsFLAGS_COPY_ALPHA)) return false;
    // In place: input and output have the same layout.
    cmsDoTransformLineStride(s.Transform(), pixels.data.get(), pixels.data.get(), pixels.width, pixels.height,
                             cmsUInt32Number(pixels.stride), cmsUInt32Number(pixels.stride), 0, 0);
    return true;
}

bool TransformPalette(Session& s, ColorPalette& palette) {
    if (palette.Entries.empty() || !s.MakeTransform(TYPE_BGRA_8, TYPE_BGRA_8, cmsFLAGS_COPY_ALPHA))
        return false;
    std::vector<uint8_t> bgra(palette.Entries.size() * 4);
    for (size_t i = 0; i < palette.Entries.size(); ++i) {
        const ARGB c = palette.Entries[i];
        bgra[i * 4] = BlueOf(c);
        bgra[i * 4 + 1] = GreenOf(c);
        bgra[i * 4 + 2] = RedOf(c);
        bgra[i * 4 + 3] = AlphaOf(c);
    }
    cmsDoTransform(s.Transform(), bgra.data(), bgra.data(), cmsUInt32Number(palette.Entries.size()));
    for (size_t i = 0; i < palette.Entries.size(); ++i)
        palette.Entries[i] = MakeARGB(bgra[i * 4 + 3], bgra[i * 4 + 2], bgra[i * 4 + 1], bgra[i * 4]);
    return true;
}

} // namespace

bool ApplyIccProfile(Surface& pixels, const uint8_t* icc, size_t size) {
    Session s;
    return s.OpenSource(icc, size, cmsSigRgbData) && TransformSurface(s, pixels);
}

bool ApplyIccProfile(ColorPalette& palette, const uint8_t* icc, size_t size) {
    Session s;
    return s.OpenSource(icc, size, cmsSigRgbData) && TransformPalette(s, palette);
}

bool ApplyGammaChromaticities(Surface& pixels, double fileGamma, const double* chrm) {
    Session s;
    return s.MakeSource(fileGamma, chrm) && TransformSurface(s, pixels);
}

bool ApplyGammaChromaticities(ColorPalette& palette, double fileGamma, const double* chrm) {
    Session s;
    return s.MakeSource(fileGamma, chrm) && TransformPalette(s, palette);
}

struct IccRowConverter::Impl {
    Session session;
};

IccRowConverter::IccRowConverter(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
IccRowConverter::~IccRowConverter() = default;

std::unique_ptr<IccRowConverter> IccRowConverter::Create(const uint8_t* icc, size_t size, Input input) {
    auto impl = std::make_unique<Impl>();
    const bool gray = input == Input::Gray;
    const cmsUInt32Number layout = gray                           ? TYPE_GRAY_8
                                   : input == Input::InvertedCmyk ? TYPE_CMYK_8_REV
                                                                  : TYPE_CMYK_8;
    if (!impl->session.OpenSource(icc, size, gray ? cmsSigGrayData : cmsSigCmykData) ||
        !impl->session.MakeTransform(layout, TYPE_BGR_8, 0))
        return nullptr;
    return std::unique_ptr<IccRowConverter>(new IccRowConverter(std::move(impl)));
}

void IccRowConverter::Convert(const uint8_t* in, uint8_t* out, uint32_t count) const {
    cmsDoTransform(impl_->session.Transform(), in, out, count);
}

bool ApplyEmbeddedProfile(Frame& frame, const uint8_t* icc, size_t size) {
    const bool applied = IsIndexedPixelFormat(frame.pixels.format) ? ApplyIccProfile(frame.palette, icc, size)
                                                                   : ApplyIccProfile(frame.pixels, icc, size);
    if (applied)
        std::erase_if(frame.properties,
                      [](const StoredProperty& p) { return p.id == PropertyTagICCProfile; });
    return applied;
}

} // namespace imaging
