// JPEG decoding and encoding through the image layer against bare libjpeg-turbo on the same
// 6000 x 4000 picture (a Kodak photo scaled up, or a smooth synthetic one without the corpus).
//
//   jpeg_bench [benchmark flags]   timings of both sides
//   jpeg_bench --peak [file.jpg]   extra memory at the peak of Image::FromFile, against the pixel size
#include "imaging/Codec.h"
#include "imaging/Image.h"
#include "imaging/Stream.h"

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

constexpr uint32_t kWidth = 6000, kHeight = 4000;
constexpr int kQuality = 90;
const int32_t kStride = DefaultStride(kWidth, PixelFormat24bppRGB);

/// The picture as 24bppRGB rows (B, G, R), kStride bytes apart.
std::vector<uint8_t> SamplePixels() {
    std::vector<uint8_t> out(size_t(kStride) * kHeight);
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    const std::string kodak = std::string(ZERIMO_CORPUS) + "/kodak/23.png";
    std::vector<uint8_t> src;
    if (png_image_begin_read_from_file(&png, kodak.c_str())) {
        png.format = PNG_FORMAT_BGR;
        src.resize(PNG_IMAGE_SIZE(png));
        if (!png_image_finish_read(&png, nullptr, src.data(), 0, nullptr)) src.clear();
    }
    if (src.empty()) {
        std::fprintf(stderr, "no Kodak photo at %s: using a synthetic picture\n", kodak.c_str());
        for (uint32_t y = 0; y < kHeight; ++y) {
            uint8_t* row = out.data() + size_t(y) * kStride;
            for (uint32_t x = 0; x < kWidth; ++x) {
                row[x * 3] = uint8_t(128 + 100 * std::sin(x / 300.0) * std::cos(y / 200.0));
                row[x * 3 + 1] = uint8_t(x * 255 / kWidth);
                row[x * 3 + 2] = uint8_t(y * 255 / kHeight);
            }
        }
        return out;
    }
    // Bilinear enlargement.
    const uint32_t sw = png.width, sh = png.height;
    for (uint32_t y = 0; y < kHeight; ++y) {
        const double fy = std::max(0.0, (y + 0.5) * sh / kHeight - 0.5);
        const uint32_t y0 = std::min(uint32_t(fy), sh - 1), y1 = std::min(y0 + 1, sh - 1);
        const double wy = fy - y0;
        uint8_t* row = out.data() + size_t(y) * kStride;
        for (uint32_t x = 0; x < kWidth; ++x) {
            const double fx = std::max(0.0, (x + 0.5) * sw / kWidth - 0.5);
            const uint32_t x0 = std::min(uint32_t(fx), sw - 1), x1 = std::min(x0 + 1, sw - 1);
            const double wx = fx - x0;
            for (int c = 0; c < 3; ++c) {
                auto at = [&](uint32_t xx, uint32_t yy) {
                    return double(src[(size_t(yy) * sw + xx) * 3 + c]);
                };
                const double v = (at(x0, y0) * (1 - wx) + at(x1, y0) * wx) * (1 - wy) +
                                 (at(x0, y1) * (1 - wx) + at(x1, y1) * wx) * wy;
                row[x * 3 + c] = uint8_t(v + 0.5);
            }
        }
    }
    return out;
}

/// Bare libjpeg-turbo: quality 90, 4:2:0, BGR rows straight in.
std::vector<uint8_t> EncodeBare(const uint8_t* pixels) {
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* buf = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buf, &size);
    c.image_width = kWidth;
    c.image_height = kHeight;
    c.input_components = 3;
    c.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, kQuality, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(pixels + size_t(c.next_scanline) * kStride);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::vector<uint8_t> out(buf, buf + size);
    std::free(buf);
    return out;
}

/// Bare libjpeg-turbo: BGR into a freshly allocated buffer, as a decoder that owns its result does.
std::unique_ptr<uint8_t[], FreeDeleter> DecodeBare(const std::vector<uint8_t>& jpeg) {
    jpeg_decompress_struct d{};
    jpeg_error_mgr err{};
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&d);
    const int32_t stride = DefaultStride(d.output_width, PixelFormat24bppRGB);
    std::unique_ptr<uint8_t[], FreeDeleter> out(
        static_cast<uint8_t*>(std::malloc(size_t(stride) * d.output_height)));
    while (d.output_scanline < d.output_height) {
        JSAMPROW rows[16];
        const JDIMENSION n = std::min<JDIMENSION>(16, d.output_height - d.output_scanline);
        for (JDIMENSION i = 0; i < n; ++i) rows[i] = out.get() + size_t(d.output_scanline + i) * stride;
        jpeg_read_scanlines(&d, rows, n);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    return out;
}

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
