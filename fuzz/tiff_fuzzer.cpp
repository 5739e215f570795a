// Decodes a TIFF file and pages through it as the viewer does: every page selected in turn (up to
// a bound, so one input stays quick) and its pixels read as 32-bit ARGB.
#include "imaging/Codec.h"
#include "imaging/Image.h"
#include "imaging/codecs/Codecs.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

using namespace imaging;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (size_t(4) << 20)) return 0;
    auto bytes = std::make_shared<const std::vector<uint8_t>>(data, data + size);
    auto img = codecs::TiffDecoder().Decode(bytes, {});
    if (!Image::Usable(img)) return 0;
    const uint32_t pages = std::min(img->GetFrameCount(FrameDimensionPage), 64u);
    for (uint32_t i = 0; i < pages; ++i) {
        if (i > 0 && img->SelectActiveFrame(FrameDimensionPage, i) != Ok) {
            img->GetLastStatus();
            continue;
        }
        BitmapData d;
        if (img->LockBits(nullptr, ImageLockModeRead, PixelFormat32bppARGB, &d) == Ok) img->UnlockBits(&d);
        img->GetLastStatus();
    }
    return 0;
}
