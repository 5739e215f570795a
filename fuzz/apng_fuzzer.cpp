// Decodes arbitrary bytes as an animated PNG and selects every frame. Run with -close_fd_mask=3:
// the reader reports on standard output and standard error.
#include "io/apng/Apng.h"

#include <cstdint>

using namespace imaging;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MemoryStream in(data, size);
    auto img = zerimo::DecodeApng(in);
    if (!img) return 0;
    if (!Image::Usable(img)) __builtin_trap();
    const uint32_t frames = img->GetFrameCount(FrameDimensionPage);
    if (frames == 0) __builtin_trap();
    // A frame that does not decode is reported, never fatal.
    for (uint32_t i = 1; i < frames && i < 16; ++i)
        if (img->SelectActiveFrame(FrameDimensionPage, i) != Ok) img->GetLastStatus();
    return 0;
}
