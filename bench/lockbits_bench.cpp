// LockBits of a 6000 x 4000 24-bit bitmap as 32bppARGB against a plain memcpy of the same output
// size, measured in one run; the ratio of the medians is printed at the end (the target is at most
// 3). Both run in steady state: one untimed lock first, as the memcpy's buffers exist beforehand.
#include "imaging/Image.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace imaging;

namespace {

constexpr int32_t kWidth = 6000, kHeight = 4000;
constexpr size_t kOutBytes = size_t(kWidth) * kHeight * 4;

std::shared_ptr<Image> Source() {
    static std::shared_ptr<Image> img = [] {
        auto b = Image::CreateBitmap(kWidth, kHeight, PixelFormat24bppRGB);
        Surface& px = b->ActiveFrameData().pixels;
        for (size_t i = 0; i < px.ByteSize(); ++i) px.data.get()[i] = uint8_t(i * 31 + (i >> 12));
        return b;
    }();
    return img;
}

void BM_LockBits24As32(benchmark::State& state) {
    auto img = Source();
    BitmapData warm;
    if (img->LockBits(nullptr, ImageLockModeRead, PixelFormat32bppARGB, &warm) == Ok) img->UnlockBits(&warm);
    for (auto _ : state) {
        BitmapData d;
        if (img->LockBits(nullptr, ImageLockModeRead, PixelFormat32bppARGB, &d) != Ok) {
            state.SkipWithError("LockBits failed");
            break;
        }
        benchmark::DoNotOptimize(d.Scan0);
        benchmark::ClobberMemory();
        img->UnlockBits(&d);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kOutBytes));
}

// The reference: copying the output size between two buffers that are already in memory.
void BM_MemcpyOutputSize(benchmark::State& state) {
    std::vector<uint8_t> from(kOutBytes, 1), to(kOutBytes, 2);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), kOutBytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kOutBytes));
}

BENCHMARK(BM_LockBits24As32)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5);
BENCHMARK(BM_MemcpyOutputSize)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5);

// Keeps the console output and remembers each benchmark's median real and CPU time.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median")
                medians[r.run_name.function_name] = {r.GetAdjustedRealTime(), r.GetAdjustedCPUTime()};
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, std::pair<double, double>> medians;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto lock = reporter.medians["BM_LockBits24As32"];
    const auto copy = reporter.medians["BM_MemcpyOutputSize"];
    if (lock.first > 0 && copy.first > 0 && copy.second > 0)
        std::printf(
            "LockBits 24bpp as 32bppARGB / memcpy of the output, medians: real %.2f (%.2f / %.2f ms), "
            "cpu %.2f (%.2f / %.2f ms)\n",
            lock.first / copy.first, lock.first, copy.first, lock.second / copy.second, lock.second,
            copy.second);
    benchmark::Shutdown();
    return 0;
}
