// Decodes arbitrary bytes as JPEG (with and without colour management) and writes back what
// decodes, so the EXIF items parsed from the input also go through the writer.
#include "imaging/Codec.h"
#include "imaging/Stream.h"
#include "imaging/codecs/Codecs.h"

#include <cstdint>
#include <memory>
#include <vector>

using namespace imaging;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto bytes = std::make_shared<const std::vector<uint8_t>>(data, data + size);
    DecodeOptions options;
    // Bytes after the end of the image do not change it: the last one chooses the mode.
    options.useIcm = size > 0 && (data[size - 1] & 1);
    auto img = codecs::JpegDecoder().Decode(bytes, options);
    if (!Image::Usable(img)) return 0;
    EncoderParameters params;
    params.AddLong(EncoderQuality, 50);
    MemoryStream out;
    if (img->Save(out, ClsidJpegCodec, &params) != Ok) __builtin_trap();
    return 0;
}
