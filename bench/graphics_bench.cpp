// The draws the program makes most: a view paint of a photo reduced to the window (high-quality
// bicubic, mirrored edges), a zoomed-in paint, the bake of a pending colour adjustment (same size,
// colour matrix and gamma), a free rotation and a paint-brush stroke of 100 dots.
#include "imaging/Graphics.h"

#include <benchmark/benchmark.h>

#include <memory>

using namespace imaging;

namespace {

std::shared_ptr<Image> Photo() {
    static std::shared_ptr<Image> img = [] {
        auto b = Image::CreateBitmap(3072, 2048, PixelFormat24bppRGB);
        Surface& px = b->ActiveFrameData().pixels;
        for (uint32_t y = 0; y < px.height; ++y)
            for (uint32_t x = 0; x < px.width * 3; ++x) px.Row(y)[x] = uint8_t((x * 7 + y * 3) ^ (x >> 5));
        return b;
    }();
    return img;
}

void ViewPaint(benchmark::State& state, float zoom) {
    auto src = Photo();
    auto buffer = Image::CreateBitmap(1600, 1000, PixelFormat32bppARGB);
    auto g = Graphics::FromImage(buffer.get());
    g->SetCompositingQuality(CompositingQualityHighQuality);
    g->SetInterpolationMode(InterpolationModeHighQualityBicubic);
    g->SetPixelOffsetMode(PixelOffsetModeHighQuality);
    g->SetSmoothingMode(SmoothingModeHighQuality);
    ImageAttributes attr;
    attr.SetWrapMode(WrapModeTileFlipXY, 0xFF000000);
    const float sw = 1600 / zoom, sh = 1000 / zoom;
    for (auto _ : state)
        benchmark::DoNotOptimize(
            g->DrawImage(src.get(), RectF{0, 0, 1600, 1000}, 100, 100, sw, sh, UnitPixel, &attr));
}

void BM_ViewPaintReduced(benchmark::State& state) {
    ViewPaint(state, 1600.0f / 2900);
}
void BM_ViewPaintZoomed(benchmark::State& state) {
    ViewPaint(state, 4.0f);
}

void BM_BakeAdjustment(benchmark::State& state) {
    auto src = Photo();
    auto dst = Image::CreateBitmap(3072, 2048, PixelFormat24bppRGB);
    auto g = Graphics::FromImage(dst.get());
    ImageAttributes attr;
    ColorMatrix m;
    m.m[0][0] = m.m[1][1] = m.m[2][2] = 1.2f;
    m.m[4][0] = m.m[4][1] = m.m[4][2] = -0.05f;
    attr.SetColorMatrix(&m);
    attr.SetGamma(0.8f);
    for (auto _ : state) {
        g->Clear(0x00FFFFFF);
        benchmark::DoNotOptimize(
            g->DrawImage(src.get(), Rect{0, 0, 3072, 2048}, 0, 0, 3072, 2048, UnitPixel, &attr));
    }
}

void BM_FreeRotation(benchmark::State& state) {
    auto src = Photo();
    auto dst = Image::CreateBitmap(3685, 3310, PixelFormat24bppRGB);
    auto g = Graphics::FromImage(dst.get());
    g->SetCompositingQuality(CompositingQualityHighQuality);
    g->SetPixelOffsetMode(PixelOffsetModeHighQuality);
    g->TranslateTransform(-1536, -1024);
    g->RotateTransform(30, MatrixOrderAppend);
    g->TranslateTransform(1842, 1655, MatrixOrderAppend);
    g->SetSmoothingMode(SmoothingModeAntiAlias);
    for (auto _ : state) benchmark::DoNotOptimize(g->DrawImage(src.get(), 0, 0, 3072, 2048));
}

void BM_PaintStroke(benchmark::State& state) {
    auto dst = Photo()->Clone();
    auto g = Graphics::FromImage(dst.get());
    g->SetSmoothingMode(SmoothingModeAntiAlias);
    g->SetPixelOffsetMode(PixelOffsetModeHighQuality);
    SolidBrush brush(0xFFFF0000);
    for (auto _ : state)
        for (int i = 0; i < 100; ++i) g->FillEllipse(&brush, 100.0f + 3 * i, 500.0f, 6.0f, 6.0f);
}

} // namespace

BENCHMARK(BM_ViewPaintReduced)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ViewPaintZoomed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BakeAdjustment)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FreeRotation)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PaintStroke)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
