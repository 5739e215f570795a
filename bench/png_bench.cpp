// Decoding a 4000 x 3000 RGB PNG through the image layer (Image::FromStream on a memory stream)
// against a bare libpng decode of the same bytes into one buffer. The picture is a Kodak photo
// scaled up with a little noise, or a synthetic one with detail when the corpus is missing,
// written with the default compression.
#include "imaging/Codec.h"
#include "imaging/Image.h"
#include "imaging/Stream.h"

#include <benchmark/benchmark.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <memory>

using namespace imaging;

namespace {

constexpr int32_t kWidth = 4000, kHeight = 3000;

std::shared_ptr<Image> MakePicture() {
    auto img = Image::CreateBitmap(kWidth, kHeight, PixelFormat24bppRGB);
    auto photo = Image::FromFile(std::string(ZERIMO_CORPUS) + "/kodak/01.png");
    BitmapData src{}, dst{};
    const bool havePhoto =
        Image::Usable(photo) && photo->LockBits(nullptr, ImageLockModeRead, PixelFormat24bppRGB, &src) == Ok;
    img->LockBits(nullptr, ImageLockModeWrite, PixelFormat24bppRGB, &dst);
    uint32_t noise = 12345;
    for (int32_t y = 0; y < kHeight; ++y) {
        uint8_t* row = static_cast<uint8_t*>(dst.Scan0) + int64_t(y) * dst.Stride;
        for (int32_t x = 0; x < kWidth; ++x) {
            noise = noise * 1103515245u + 12345u;
            const int n = int((noise >> 16) & 7) - 3;
            for (int c = 0; c < 3; ++c) {
                double v;
                if (havePhoto) {
                    // Bilinear sample of the photo.
                    const double fx = (x + 0.5) * src.Width / kWidth - 0.5,
                                 fy = (y + 0.5) * src.Height / kHeight - 0.5;
                    const int x0 = std::max(0, int(fx)), y0 = std::max(0, int(fy));
                    const int x1 = std::min(int(src.Width) - 1, x0 + 1),
                              y1 = std::min(int(src.Height) - 1, y0 + 1);
                    const double ax = std::clamp(fx - x0, 0.0, 1.0), ay = std::clamp(fy - y0, 0.0, 1.0);
                    auto at = [&](int px, int py) {
                        return double(
                            static_cast<const uint8_t*>(src.Scan0)[int64_t(py) * src.Stride + 3 * px + c]);
                    };
                    v = (at(x0, y0) * (1 - ax) + at(x1, y0) * ax) * (1 - ay) +
                        (at(x0, y1) * (1 - ax) + at(x1, y1) * ax) * ay;
                } else {
                    v = 128 + 60 * std::sin(x * 0.013 * (c + 1)) + 50 * std::cos(y * 0.021 + x * 0.002 * c);
                }
                row[3 * x + c] = uint8_t(std::clamp(v + n, 0.0, 255.0));
            }
        }
    }
    img->UnlockBits(&dst);
    if (havePhoto) photo->UnlockBits(&src);
    return img;
}

const std::vector<uint8_t>& TestPng() {
    static const std::vector<uint8_t> bytes = [] {
        auto img = MakePicture();
        MemoryStream out;
        if (img->Save(out, ClsidPngCodec, nullptr) != Ok) std::abort();
        return out.TakeBytes();
    }();
    return bytes;
}

struct Source {
    const uint8_t* data;
    size_t size, pos;
};

void ReadFromMemory(png_structp png, png_bytep out, size_t n) {
    auto* s = static_cast<Source*>(png_get_io_ptr(png));
    if (n > s->size - s->pos) png_error(png, "short");
    std::memcpy(out, s->data + s->pos, n);
    s->pos += n;
}

// libpng alone: rows as the file stores them (RGB) into one freshly allocated buffer.
bool BareDecode(const std::vector<uint8_t>& bytes, std::unique_ptr<uint8_t[], FreeDeleter>& pixels) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    Source src{bytes.data(), bytes.size(), 0};
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, &src, ReadFromMemory);
    png_read_info(png, info);
    png_read_update_info(png, info);
    const size_t rowBytes = png_get_rowbytes(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    pixels.reset(static_cast<uint8_t*>(std::malloc(rowBytes * height)));
    for (png_uint_32 y = 0; y < height; ++y) png_read_row(png, pixels.get() + y * rowBytes, nullptr);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

void BM_PngBareLibpng(benchmark::State& state) {
    const auto& bytes = TestPng();
    for (auto _ : state) {
        std::unique_ptr<uint8_t[], FreeDeleter> pixels;
        if (!BareDecode(bytes, pixels)) state.SkipWithError("bare decode failed");
        benchmark::DoNotOptimize(pixels.get());
    }
    state.counters["MB"] = double(bytes.size()) / 1e6;
}

void BM_PngImageFromStream(benchmark::State& state) {
    const auto& bytes = TestPng();
    for (auto _ : state) {
        MemoryStream stream(bytes.data(), bytes.size());
        auto img = Image::FromStream(stream);
        if (!Image::Usable(img) || img->GetWidth() != uint32_t(kWidth)) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(img.get());
    }
}

} // namespace

BENCHMARK(BM_PngBareLibpng)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PngImageFromStream)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
