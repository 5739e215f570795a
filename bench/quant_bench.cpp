// The colour reduction in process, and the quality figures of bench/quant.sh.
//   quant_bench --quality REF OUT   prints the PSNR (dB, over R, G, B) and the mean CIEDE2000 of OUT
//                                   against REF
//   quant_bench [benchmark flags]   times each method on a Kodak photo

#include "document/ZerimoDoc.h"
#include "io/DecodeChain.h"
#include "quant/ColorScience.h"
#include "quant/QColorQuantizer.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>

using namespace imaging;
using namespace zerimo;

namespace {

std::vector<ARGB> Pixels(Image& img) {
    BitmapData d;
    std::vector<ARGB> out;
    if (img.LockBits(nullptr, ImageLockModeRead, PixelFormat32bppARGB, &d) != Ok) return out;
    out.resize(size_t(d.Width) * d.Height);
    for (uint32_t y = 0; y < d.Height; ++y)
        std::memcpy(&out[size_t(y) * d.Width], static_cast<uint8_t*>(d.Scan0) + int64_t(y) * d.Stride,
                    4 * size_t(d.Width));
    img.UnlockBits(&d);
    return out;
}

double DeltaE2000(const LabColor& l1, const LabColor& l2) {
    const double c1 = std::hypot(l1.a, l1.b), c2 = std::hypot(l2.a, l2.b), cm = (c1 + c2) / 2;
    const double c7 = std::pow(cm, 7);
    const double g = 0.5 * (1 - std::sqrt(c7 / (c7 + 6103515625.0)));
    const double a1 = (1 + g) * l1.a, a2 = (1 + g) * l2.a;
    const double cp1 = std::hypot(a1, l1.b), cp2 = std::hypot(a2, l2.b);
    const double lm = (l1.L + l2.L) / 2, d50 = (lm - 50) * (lm - 50);
    const double dl = (l2.L - l1.L) / (1 + 0.015 * d50 / std::sqrt(20 + d50));
    const double x = (cp2 - cp1) / (1 + 0.045 * (cp1 + cp2) / 2);
    double cMean = 0, hMean = 0;
    const double y = HueDifferenceTerm(l1, l2, a1, a2, cp1, cp2, cMean, hMean);
    return std::sqrt(std::max(0.0, dl * dl + x * x + y * y + RotationTerm(cMean, hMean, x, y)));
}

int Quality(const char* refPath, const char* outPath) {
    ImagePtr ref = DecodeImageFile(refPath, nullptr), out = DecodeImageFile(outPath, nullptr);
    if (!Image::Usable(ref) || !Image::Usable(out)) return 1;
    const std::vector<ARGB> a = Pixels(*ref), b = Pixels(*out);
    if (a.size() != b.size() || a.empty()) return 1;
    double se = 0, de = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        for (int s = 0; s < 24; s += 8) {
            const double d = double((a[i] >> s) & 0xFF) - double((b[i] >> s) & 0xFF);
            se += d * d;
        }
        de += DeltaE2000(ArgbToLab(a[i] | 0xFF000000), ArgbToLab(b[i] | 0xFF000000));
    }
    const double mse = se / (3.0 * double(a.size()));
    std::printf("%.4f %.4f\n", mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse), de / double(a.size()));
    return 0;
}

void Method(benchmark::State& state, int type, PixelFormat format) {
    ImagePtr src = DecodeImageFile(std::string(ZERIMO_CORPUS) + "/kodak/01.png", nullptr);
    if (!Image::Usable(src)) {
        state.SkipWithError("no Kodak photo");
        return;
    }
    for (auto _ : state) {
        QColorQuantizer q;
        benchmark::DoNotOptimize(q.ConvertImage(src, type, format, true, std::stop_token{}));
    }
}

} // namespace

BENCHMARK_CAPTURE(Method, pnn_256, int(JobPnnRgb), PixelFormat8bppIndexed)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Method, pnnlab_256, int(JobPnnLab), PixelFormat8bppIndexed)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Method, pnnlab_16, int(JobPnnLab), PixelFormat4bppIndexed)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Method, otsu_2, int(JobOtsu), PixelFormat1bppIndexed)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--quality") == 0) return Quality(argv[2], argv[3]);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
