// Decodes arbitrary bytes as PNG (with and without colour management); whatever decodes is written
// back as PNG, and that file must decode again.
#include "imaging/Codec.h"
#include "imaging/Stream.h"
#include "imaging/codecs/Codecs.h"

#include <cstdint>
#include <memory>
#include <vector>

using namespace imaging;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Headers that ask for more than 4M pixels only measure the allocator, not the decoder.
    if (size >= 24) {
        const auto be32 = [&](size_t at) {
            return (uint32_t(data[at]) << 24) | (uint32_t(data[at + 1]) << 16) |
                   (uint32_t(data[at + 2]) << 8) | data[at + 3];
        };
        if (uint64_t(be32(16)) * be32(20) > (uint64_t(1) << 22)) return 0;
    }
    auto bytes = std::make_shared<const std::vector<uint8_t>>(data, data + size);
    DecodeOptions options;
    options.useIcm = size > 0 && (data[size - 1] & 1); // bytes after IEND do not change the image
    auto img = codecs::PngDecoder().Decode(bytes, options);
    if (!Image::Usable(img)) return 0;
    MemoryStream out;
    if (img->Save(out, ClsidPngCodec, nullptr) != Ok) __builtin_trap();
    auto again =
        codecs::PngDecoder().Decode(std::make_shared<const std::vector<uint8_t>>(out.TakeBytes()), {});
    if (!Image::Usable(again) || again->GetWidth() != img->GetWidth()) __builtin_trap();
    return 0;
}
