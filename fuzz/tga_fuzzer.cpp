// Decodes arbitrary bytes as TGA; whatever decodes must have the size its header states.
#include "io/tga/Tga.h"

#include <cstdint>

using namespace imaging;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Headers that ask for more than 4M pixels only measure the allocator, not the decoder.
    if (size >= 16 &&
        uint64_t(data[12] | (data[13] << 8)) * uint64_t(data[14] | (data[15] << 8)) > (1u << 22))
        return 0;
    auto img = zerimo::DecodeTga(data, size);
    if (!img) return 0;
    if (!Image::Usable(img) || img->GetWidth() != uint32_t(data[12] | (data[13] << 8)) ||
        img->GetHeight() != uint32_t(data[14] | (data[15] << 8)))
        __builtin_trap();
    return 0;
}
