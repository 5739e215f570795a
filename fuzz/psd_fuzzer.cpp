// Decodes arbitrary bytes as PSD; whatever decodes is a 24 bpp picture.
#include "io/psd/Psd.h"

#include <cstdint>

using namespace imaging;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto img = zerimo::DecodePsd(data, size);
    if (!img) return 0;
    if (!Image::Usable(img) || img->GetPixelFormat() != PixelFormat24bppRGB) __builtin_trap();
    return 0;
}
