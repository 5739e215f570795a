// Decodes arbitrary bytes with the WebP reader; small pictures that decode are written back as WebP,
// and that file must decode again at the same size.
#include "io/WebP.h"

#include <webp/decode.h>

#include <cstdint>
#include <memory>

using namespace imaging;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Headers that ask for more than 4M pixels only measure the allocator, not the decoder.
    int w = 0, h = 0;
    if (WebPGetInfo(data, size, &w, &h) && uint64_t(w) * uint64_t(h) > (uint64_t(1) << 22)) return 0;
    MemoryStream in(data, size);
    auto img = zerimo::ReadWebp(in);
    if (!img) return 0;
    if (!Image::Usable(img) || img->GetPixelFormat() != PixelFormat32bppARGB) __builtin_trap();
    if (uint64_t(img->GetWidth()) * img->GetHeight() > (uint64_t(1) << 16)) return 0;
    MemoryStream out;
    if (!zerimo::WriteWebp(*img, out, 50)) __builtin_trap();
    MemoryStream again(out.Data(), out.Size());
    auto back = zerimo::ReadWebp(again);
    if (!back || back->GetWidth() != img->GetWidth() || back->GetHeight() != img->GetHeight())
        __builtin_trap();
    return 0;
}
