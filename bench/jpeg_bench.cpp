// JPEG decoding and encoding through the image layer against bare libjpeg-turbo on the same
// 6000 x 4000 picture (a Kodak photo scaled up, or a smooth synthetic one without the corpus).
//
//   jpeg_bench [benchmark flags]   timings of both sides
//   jpeg_bench --peak [file.jpg]   extra memory at the peak of Image::FromFile, against the pixel size
#include "imaging/Codec.h"
#include "imaging/Image.h"
#include "imaging/Stream.h"

#include "JpegSample.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <malloc.h>
#include <png.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace imaging;

namespace {

using namespace benchjpeg;

struct Sample {
    std::vector<uint8_t> pixels = SamplePixels();
    std::vector<uint8_t> jpeg = EncodeBare(pixels.data());
    std::shared_ptr<Image> image =
        Image::CreateBitmapFromScan0(kWidth, kHeight, kStride, PixelFormat24bppRGB, pixels.data());
};

const Sample& TheSample() {
    static const Sample s;
    return s;
}

void BM_DecodeImageFromStream(benchmark::State& state) {
    const Sample& s = TheSample();
    for (auto _ : state) {
        MemoryStream stream(s.jpeg.data(), s.jpeg.size());
        auto img = Image::FromStream(stream);
        if (!Image::Usable(img)) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(img.get());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s.jpeg.size()));
}

void BM_DecodeBareLibjpeg(benchmark::State& state) {
    const Sample& s = TheSample();
    for (auto _ : state) {
        auto px = DecodeBare(s.jpeg);
        benchmark::DoNotOptimize(px.get());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s.jpeg.size()));
}

void BM_EncodeImageSave(benchmark::State& state) {
    const Sample& s = TheSample();
    EncoderParameters params;
    params.AddLong(EncoderQuality, kQuality);
    for (auto _ : state) {
        MemoryStream out;
        if (s.image->Save(out, ClsidJpegCodec, &params) != Ok) state.SkipWithError("encode failed");
        benchmark::DoNotOptimize(out.Data());
    }
}

void BM_EncodeBareLibjpeg(benchmark::State& state) {
    const Sample& s = TheSample();
    for (auto _ : state) {
        auto out = EncodeBare(s.pixels.data());
        benchmark::DoNotOptimize(out.data());
    }
}

BENCHMARK(BM_DecodeImageFromStream)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeBareLibjpeg)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeImageSave)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeBareLibjpeg)->Unit(benchmark::kMillisecond);

// ---- peak memory -----------------------------------------------------------------------------------

/// A field of /proc/self/status in bytes ("VmRSS", "VmHWM").
long StatusBytes(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(in, line))
        if (line.compare(0, key.size(), key) == 0) return std::atol(line.c_str() + key.size()) * 1024;
    return -1;
}

int MeasurePeak(const std::string& path) {
    const long rssBefore = StatusBytes("VmRSS");
    if (StatusBytes("VmHWM") > rssBefore + (1 << 20))
        std::fprintf(stderr, "note: high-water mark above RSS at start\n");
    const size_t heapBefore = mallinfo2().uordblks + mallinfo2().hblkhd;
    auto img = Image::FromFile(path);
    if (!Image::Usable(img)) {
        std::fprintf(stderr, "cannot decode %s\n", path.c_str());
        return 1;
    }
    const long hwm = StatusBytes("VmHWM");
    const size_t heapAfter = mallinfo2().uordblks + mallinfo2().hblkhd;
    const double pixels = double(img->ActiveFrameData().pixels.ByteSize());
    std::printf("file %s: %u x %u, %.1f MB compressed\n", path.c_str(), img->GetWidth(), img->GetHeight(),
                double(std::ifstream(path, std::ios::binary | std::ios::ate).tellg()) / 1e6);
    std::printf("decoded pixels          %8.1f MB\n", pixels / 1e6);
    std::printf("heap held after decode  %8.1f MB\n", double(heapAfter - heapBefore) / 1e6);
    std::printf("peak extra RSS          %8.1f MB = %.3f x the pixels\n", double(hwm - rssBefore) / 1e6,
                double(hwm - rssBefore) / pixels);
    return 0;
}

int Peak(const char* given) {
    if (given) return MeasurePeak(given);
    const std::string path = "/tmp/zerimo-jpeg-peak-" + std::to_string(getpid()) + ".jpg";
    {
        const std::vector<uint8_t> jpeg = EncodeBare(SamplePixels().data());
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(jpeg.data()), std::streamsize(jpeg.size()));
    }
    malloc_trim(0);
    // The child starts with its high-water mark at its present size, so making the sample does
    // not count.
    const pid_t child = fork();
    if (child == 0) {
        const int rc = MeasurePeak(path);
        std::fflush(stdout);
        _exit(rc);
    }
    int status = 1;
    waitpid(child, &status, 0);
    std::remove(path.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--peak") == 0) return Peak(argc >= 3 ? argv[2] : nullptr);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
