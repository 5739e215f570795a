// Decodes arbitrary bytes as an icon file and reads whatever decodes.
#include "imaging/codecs/Codecs.h"

#include <cstdint>
#include <vector>

using namespace imaging;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto img =
        codecs::IcoDecoder().Decode(std::make_shared<const std::vector<uint8_t>>(data, data + size), {});
    if (!Image::Usable(img)) return 0;
    BitmapData bits;
    if (img->LockBits(nullptr, ImageLockModeRead, PixelFormat32bppARGB, &bits) == Ok) img->UnlockBits(&bits);
    return 0;
}
