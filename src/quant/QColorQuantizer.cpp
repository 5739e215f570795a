#include "quant/QColorQuantizer.h"

#include "ops/Soften.h"
#include "quant/Quantizers.h"

#include <cstdio>
#include <new>

namespace zerimo {

using namespace imaging;

std::string ConvertFailedMessage(uint32_t colors) {
    char text[64];
    std::snprintf(text, sizeof text, "Failed to convert to %u colors", colors);
    return text;
}

QColorQuantizer::QColorQuantizer() = default;

QColorQuantizer::~QColorQuantizer() {
    Stop();
}

void QColorQuantizer::Stop() {
    generation->fetch_add(1);
    if (worker.joinable()) {
        worker.request_stop();
        worker.join();
    }
    running = false;
}

void QColorQuantizer::Start() {
    Stop();
    const uint64_t job = generation->fetch_add(1) + 1;
    running = true;
    worker = std::jthread(
        [this, job, src = source, type = jobType, format = targetFormat, d = dither](std::stop_token stop) {
            ConvertResult result = ConvertImage(src, type, format, d, stop);
            if (!stop.stop_requested() && completion) completion(std::move(result), job);
            running = false;
        });
}

ConvertResult QColorQuantizer::ConvertImage(const ImagePtr& src, int type, PixelFormat format, bool,
                                            std::stop_token stop) {
    ConvertResult result;
    result.colors = 1u << ((format >> 8) & 0x1F);
    if (!src || type < 0 || type > 7) {
        result.failed = true;
        return result;
    }
    std::lock_guard<std::mutex> lock(state.runMutex);
    const int32_t w = int32_t(src->GetWidth()), h = int32_t(src->GetHeight());
    QuantRun run{state, stop};
    if (type >= JobSoftenSmall) {
        const SoftenParams* p = SoftenParamsForJob(type);
        std::atomic<bool> cancel{false};
        const std::stop_callback onStop(stop, [&] { cancel = true; });
        ImagePtr out = p ? SoftenImage(src, format, p->iterations, p->lambda, p->K, &cancel) : nullptr;
        if (stop.stop_requested()) return result;
        if (!out || out == src) {
            result.failed = true;
            return result;
        }
        result.image = out;
        return result;
    }
    auto make = [&] { return Image::CreateBitmap(w, h, type == JobOtsu ? PixelFormat1bppIndexed : format); };
    ImagePtr target = make();
    if (!Image::Usable(target)) {
        result.failed = true;
        return result;
    }
    uint32_t n = result.colors;
    bool ok = false;
    // A method that cannot get its working memory fails like any other failure.
    try {
        switch (type) {
        case JobPnnRgb:
            ok = PnnQuantize(*src, *target, n, true, run);
            break;
        case JobPnnLab:
            ok = PnnLabQuantize(*src, *target, n, true, run);
            break;
        case JobEdgeAware:
            ok = EdgeAwareQuantize(*src, *target, n, true, run);
            if (!ok && !stop.stop_requested()) {
                target = make();
                n = result.colors;
                ok = Image::Usable(target) && SpatialQuantize(*src, *target, n, true, run);
            }
            break;
        case JobSpatial:
            ok = SpatialQuantize(*src, *target, n, true, run);
            break;
        case JobOtsu:
            ok = OtsuQuantize(*src, *target, true, run);
            break;
        }
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    result.colors = n;
    if (stop.stop_requested()) return result;
    if (!ok) {
        // A failed target holds no usable picture: report it and leave the document as it is.
        result.failed = true;
        return result;
    }
    result.image = target;
    return result;
}

QColorQuantizer::ImagePtr
QColorQuantizer::ConvertImage(const ImagePtr& src, int type, PixelFormat format, bool d,
                              const std::function<void(const std::string&)>& report) {
    ConvertResult r = ConvertImage(src, type, format, d, std::stop_token{});
    if (r.failed && report) report(ConvertFailedMessage(r.colors));
    return r.image;
}

} // namespace zerimo
