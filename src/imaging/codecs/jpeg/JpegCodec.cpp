// Placeholder until the Jpeg codec lands.
#include "imaging/codecs/Codecs.h"

namespace imaging::codecs {
namespace {
class Dec final : public ImageDecoder {
  public:
    const ImageCodecInfo& Info() const override {
        static const ImageCodecInfo i = JpegCodecInfo();
        return i;
    }
    bool Matches(const uint8_t*, size_t) const override { return false; }
    std::shared_ptr<Image> Decode(std::shared_ptr<const std::vector<uint8_t>>,
                                  const DecodeOptions&) const override {
        return Image::Failed(NotImplemented);
    }
};
class Enc final : public ImageEncoder {
  public:
    const ImageCodecInfo& Info() const override {
        static const ImageCodecInfo i = JpegCodecInfo();
        return i;
    }
    Status Encode(Image&, Stream&, const EncoderParameters*) const override { return NotImplemented; }
};
} // namespace
const ImageDecoder& JpegDecoder() {
    static const Dec d;
    return d;
}
const ImageEncoder& JpegEncoder() {
    static const Enc e;
    return e;
}
} // namespace imaging::codecs
