// The image operations as the document runs them, on photo-sized images: blur of radius 8.00 and
// resize to half size with high-quality bicubic of 24 megapixels, free rotation by 30 degrees of 12
// megapixels, the bake of a pending colour matrix and gamma into 24 megapixels, and Soften Large of
// 12 megapixels. Wall-clock times, and the CPU time of all threads (the operations use every core).
#include "document/DocHost.h"
#include "document/ZerimoDoc.h"
#include "imaging/Image.h"
#include "ops/Adjustments.h"
#include "ops/Bake.h"
#include "ops/Blur.h"
#include "ops/ColorMatrixOps.h"
#include "ops/Soften.h"

#include <benchmark/benchmark.h>

#include <memory>

using namespace imaging;
using namespace zerimo;

namespace {

/// A photo-like 24-bit image: a Kodak photo drawn up to the size, or a pattern when it is missing.
std::shared_ptr<Image> Photo(int w, int h) {
    auto photo = Image::FromFile(std::string(ZERIMO_CORPUS) + "/kodak/23.png");
    auto out = Image::CreateBitmap(w, h, PixelFormat24bppRGB);
    if (Image::Usable(photo)) {
        CHeadlessHost host;
        CZerimoDoc doc(host);
        doc.SetImage(photo, false);
        doc.ResizeImage(float(w), float(h));
        return doc.bitmap;
    }
    Surface& px = out->ActiveFrameData().pixels;
    for (uint32_t y = 0; y < px.height; ++y)
        for (uint32_t x = 0; x < px.width * 3; ++x) px.Row(y)[x] = uint8_t((x * 7 + y * 3) ^ (x >> 5));
    return out;
}

std::shared_ptr<Image> Photo24() {
    static auto img = Photo(6000, 4000);
    return img;
}
std::shared_ptr<Image> Photo12() {
    static auto img = Photo(4000, 3000);
    return img;
}

struct Doc {
    CHeadlessHost host;
    CZerimoDoc doc{host};
    explicit Doc(const std::shared_ptr<Image>& img) {
        host.printMessages = false;
        doc.SetImage(img, false);
    }
    void Reset(const std::shared_ptr<Image>& img) {
        doc.SetImage(img, false);
        doc.history->Clear();
    }
};

void BM_BlurRadius8_24MP(benchmark::State& state) {
    auto src = Photo24();
    for (auto _ : state) benchmark::DoNotOptimize(BlurImage(*src, 8.0f, false, 7, true));
}

void BM_ResizeHalf_24MP(benchmark::State& state) {
    auto src = Photo24();
    Doc d(src);
    for (auto _ : state) {
        d.doc.ResizeImage(3000, 2000);
        state.PauseTiming();
        d.Reset(src);
        state.ResumeTiming();
    }
}

void BM_Rotate30_12MP(benchmark::State& state) {
    auto src = Photo12();
    Doc d(src);
    for (auto _ : state) {
        d.doc.RotateByDegree(30);
        state.PauseTiming();
        d.Reset(src);
        state.ResumeTiming();
    }
}

void BM_BakeMatrixAndGamma_24MP(benchmark::State& state) {
    auto src = Photo24();
    Doc d(src);
    CAdjustmentState& v = d.doc.Adjustments();
    v.filterWindow = true;
    for (auto _ : state) {
        state.PauseTiming();
        d.Reset(src);
        v.filter.SetPosition(IDC_CONTRAST, 24);
        v.filter.SetPosition(IDC_SATURATION, 26);
        v.filter.SetPosition(IDC_HUE, 5);
        v.filter.SetPosition(IDC_GAMMA, 16);
        d.doc.OnFilterChanged(IDC_CONTRAST);
        state.ResumeTiming();
        d.doc.BakeAdjustments();
    }
}

// The pixel loop of the bake alone, into a bitmap made once.
void BM_BakeLoop_24MP(benchmark::State& state) {
    auto src = Photo24();
    auto dst = Image::CreateBitmap(6000, 4000, PixelFormat24bppRGB);
    ImageAttributes attributes;
    const ColorMatrix m = FilterMatrix(1.2f, 0.0f, 1.3f, 20.0f);
    attributes.SetColorMatrix(&m);
    attributes.SetGamma(0.8f);
    for (auto _ : state) benchmark::DoNotOptimize(BakeAdjustmentInto(*dst, *src, attributes));
}

void BM_SoftenLarge_12MP(benchmark::State& state) {
    auto src = Photo12();
    for (auto _ : state)
        benchmark::DoNotOptimize(
            SoftenImage(src, PixelFormat24bppRGB, SoftenLarge.iterations, SoftenLarge.lambda, SoftenLarge.K));
}

BENCHMARK(BM_BlurRadius8_24MP)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime()->Iterations(3);
BENCHMARK(BM_ResizeHalf_24MP)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime()->Iterations(3);
BENCHMARK(BM_Rotate30_12MP)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime()->Iterations(3);
BENCHMARK(BM_BakeMatrixAndGamma_24MP)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime()->Iterations(3);
BENCHMARK(BM_BakeLoop_24MP)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime()->Iterations(3);
BENCHMARK(BM_SoftenLarge_12MP)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime()->Iterations(1);

} // namespace

BENCHMARK_MAIN();
