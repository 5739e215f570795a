// The document's colour reduction: which method a target format gets, run at once or as a job of
// the quantizer whose result the view commits.

#include "document/ZerimoDoc.h"

namespace zerimo {

using namespace imaging;

namespace {

/// The method of an asynchronous conversion to an indexed format.
int IndexedJobType(bool transparency, uint32_t t, bool grayscaleMarker, uint32_t s) {
    if (transparency) {
        if (t < 4 && grayscaleMarker) return JobOtsu;
        if (t == 8) return JobPnnRgb;
        return JobPnnLab;
    }
    if (t == 8) return s > 24 ? JobPnnLab : JobPnnRgb;
    if (t < 4 && grayscaleMarker) return JobOtsu;
    if (s > 16) return JobPnnLab;
    if (s == 16) return JobEdgeAware;
    return JobSpatial;
}

} // namespace

void CZerimoDoc::StartConversionJob() {
    const std::weak_ptr<std::atomic<uint64_t>> alive = quantizer.Generation();
    quantizer.completion = [this, alive](ConvertResult result, uint64_t job) {
        host.PostToView(WM_APP_COMMIT, [this, alive, job, result = std::move(result)] {
            // A job that was stopped, or whose document is gone, commits nothing.
            const auto generation = alive.lock();
            if (!generation || generation->load() != job) return;
            if (result.failed) host.ShowMessage(ConvertFailedMessage(result.colors), MessageIcon::Warning);
            if (result.image) SetImage(result.image, true);
            busy = 0;
        });
    };
    quantizer.Start();
}

bool CZerimoDoc::ConvertTo(PixelFormat format, bool asynchronous) {
    ImagePtr image = GetBitmap();
    if (!image) return false;
    if (image->GetPixelFormat() == format) return true;
    busy = 1;
    const uint32_t t = (format >> 8) & 0xFF, s = (image->GetPixelFormat() >> 8) & 0xFF;
    auto report = [this](const std::string& text) { host.ShowMessage(text, MessageIcon::Warning); };
    auto startJob = [&](int type, PixelFormat target) {
        quantizer.Stop();
        quantizer.dither = true;
        quantizer.source = image;
        quantizer.jobType = type;
        quantizer.targetFormat = target;
        StartConversionJob();
    };

    if (t == 16) {
        if (hasTransparency && format == PixelFormat16bppRGB565) format = PixelFormat16bppARGB1555;
        if (asynchronous) {
            startJob(JobPnnLab, format);
            return true;
        }
        ImagePtr result = quantizer.ConvertImage(image, JobPnnLab, format, true, report);
        if (result) SetImage(result, false);
        busy = 0;
        return result != nullptr;
    }
    if (t > 8) {
        if (hasTransparency && format == PixelFormat16bppRGB565) format = PixelFormat16bppARGB1555;
        const Rect all{0, 0, int32_t(image->GetWidth()), int32_t(image->GetHeight())};
        ImagePtr clone = image->Clone(all, format);
        bool ok = Image::Usable(clone);
        if (ok) ok = clone->ConvertFormat(format, DitherTypeMax, PaletteTypeOptimal, nullptr, 0) == Ok;
        if (ok) {
            SetImage(clone, asynchronous);
            if (asynchronous) host.RedrawWindow();
        }
        busy = 0;
        return ok;
    }
    if (!asynchronous) {
        ImagePtr result = quantizer.ConvertImage(image, JobPnnRgb, format, true, report);
        if (result) SetImage(result, false);
        busy = 0;
        return result != nullptr;
    }
    // The GrayScale command marks its results with the thresholding item.
    const bool grayscale = image->FindProperty(PropertyTagThreshHolding) != nullptr;
    startJob(IndexedJobType(hasTransparency, t, grayscale, s), format);
    return true;
}

} // namespace zerimo
