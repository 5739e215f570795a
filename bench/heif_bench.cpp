// HEIC decode of a 12-megapixel photo: our reader (all of it, bitmap included) against the library
// calls that heif-convert makes before writing its PNG.
#include "imaging/Stream.h"
#include "io/heif/Heif.h"

#include <benchmark/benchmark.h>
#include <libheif/heif.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

const std::vector<uint8_t>& Photo() {
    static const std::vector<uint8_t> bytes = [] {
        std::ifstream in(std::string(ZERIMO_CORPUS) + "/heif/sewing-threads.heic", std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }();
    return bytes;
}

void BM_ReadHeif(benchmark::State& state) {
    const auto& bytes = Photo();
    if (bytes.empty()) return state.SkipWithError("no corpus photo");
    for (auto _ : state) {
        imaging::MemoryStream s(bytes.data(), bytes.size());
        auto img = zerimo::ReadHeif(s);
        if (!img) return state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(img.get());
    }
}
BENCHMARK(BM_ReadHeif)->Unit(benchmark::kMillisecond)->UseRealTime();

// heif-convert to PNG: read the file, take the primary image, decode it to interleaved 8-bit RGB.
void BM_BareLibheifDecode(benchmark::State& state) {
    const auto& bytes = Photo();
    if (bytes.empty()) return state.SkipWithError("no corpus photo");
    for (auto _ : state) {
        heif_context* ctx = heif_context_alloc();
        heif_context_read_from_memory_without_copy(ctx, bytes.data(), bytes.size(), nullptr);
        heif_image_handle* handle = nullptr;
        heif_context_get_primary_image_handle(ctx, &handle);
        heif_image* image = nullptr;
        const bool alpha = heif_image_handle_has_alpha_channel(handle);
        heif_error err = heif_decode_image(handle, &image, heif_colorspace_RGB,
                                           alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
                                           nullptr);
        if (err.code != heif_error_Ok) return state.SkipWithError(err.message);
        int stride = 0;
        benchmark::DoNotOptimize(heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride));
        heif_image_release(image);
        heif_image_handle_release(handle);
        heif_context_free(ctx);
    }
}
BENCHMARK(BM_BareLibheifDecode)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
