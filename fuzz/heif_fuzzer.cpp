// Decodes arbitrary bytes with the HEIF/AVIF reader; whatever decodes has a page per top-level
// image and every page selects.
#include "io/heif/Heif.h"

#include <cstdint>

using namespace imaging;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MemoryStream in(data, size);
    auto img = zerimo::ReadHeif(in);
    if (!img) return 0;
    if (!Image::Usable(img)) __builtin_trap();
    const uint32_t pages = img->GetFrameCount(FrameDimensionPage);
    for (uint32_t i = 0; i < pages; ++i)
        if (img->SelectActiveFrame(FrameDimensionPage, i) != Ok) __builtin_trap();
    return 0;
}
