// Decodes arbitrary bytes as PCX; whatever decodes must lock as 32bppARGB.
#include "io/pcx/Pcx.h"

#include <cstdint>

using namespace imaging;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto img = zerimo::ReadPcx(data, size);
    if (!img) return 0;
    if (!Image::Usable(img)) __builtin_trap();
    if (uint64_t(img->GetWidth()) * img->GetHeight() > (1u << 20)) return 0;
    BitmapData locked;
    if (img->LockBits(nullptr, ImageLockModeRead, PixelFormat32bppARGB, &locked) != Ok) __builtin_trap();
    img->UnlockBits(&locked);
    return 0;
}
