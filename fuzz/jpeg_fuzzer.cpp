// Decodes arbitrary bytes as JPEG (with and without colour management) and writes back what
// decodes, so the EXIF items parsed from the input also go through the writer.
#include "imaging/Codec.h"
#include "imaging/Stream.h"
#include "imaging/codecs/Codecs.h"

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include <jpeglib.h>

using namespace imaging;

namespace {

// A few hundred bytes of arithmetic-coded data may legally stand for a picture of millions of
// pixels; decoding those is correct but too slow under the sanitizers to fuzz at speed.
constexpr uint64_t kMaxFuzzPixels = uint64_t(1) << 22;

struct HeaderError {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

/// Pixels of the frame as libjpeg reads the header; 0 when it cannot.
uint64_t FramePixels(const uint8_t* data, size_t size) {
    jpeg_decompress_struct d{};
    HeaderError err;
    d.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = [](j_common_ptr c) {
        std::longjmp(reinterpret_cast<HeaderError*>(c->err)->jump, 1);
    };
    err.pub.output_message = [](j_common_ptr) {};
    uint64_t pixels = 0;
    jpeg_create_decompress(&d);
    if (!setjmp(err.jump)) {
        jpeg_mem_src(&d, data, static_cast<unsigned long>(size));
        if (jpeg_read_header(&d, TRUE) == JPEG_HEADER_OK) pixels = uint64_t(d.image_width) * d.image_height;
    }
    jpeg_destroy_decompress(&d);
    return pixels;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint64_t pixels = size ? FramePixels(data, size) : 0;
    // Frames above the layer's limit stay in: they must fail before anything is allocated.
    if (pixels > kMaxFuzzPixels && pixels <= MaxFramePixels) return 0;
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
