// Decodes arbitrary bytes as GIF, selects its frames (forwards, then the first again, so the
// canvas is rebuilt) and writes the active frame back as GIF, which must decode again.
#include "imaging/Codec.h"
#include "imaging/Stream.h"
#include "imaging/codecs/Codecs.h"

#include <cstdint>
#include <memory>
#include <vector>

using namespace imaging;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Screens above 1M pixels only measure the allocator, not the decoder.
    if (size >= 10 && uint64_t(data[6] | (data[7] << 8)) * uint64_t(data[8] | (data[9] << 8)) > (1u << 20))
        return 0;
    auto bytes = std::make_shared<const std::vector<uint8_t>>(data, data + size);
    auto img = codecs::GifDecoder().Decode(bytes, {});
    if (!Image::Usable(img)) return 0;
    const uint32_t count = img->GetFrameCount(FrameDimensionTime);
    for (uint32_t i = 1; i < count && i < 64; ++i) img->SelectActiveFrame(FrameDimensionTime, i);
    if (count > 1) img->SelectActiveFrame(FrameDimensionTime, count - 1);
    img->SelectActiveFrame(FrameDimensionTime, 0);
    img->GetLastStatus();
    MemoryStream out;
    if (img->Save(out, ClsidGifCodec, nullptr) != Ok) __builtin_trap();
    auto again =
        codecs::GifDecoder().Decode(std::make_shared<const std::vector<uint8_t>>(out.TakeBytes()), {});
    if (!Image::Usable(again)) __builtin_trap();
    return 0;
}
