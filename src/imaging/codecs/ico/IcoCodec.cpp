// Placeholder until the ICO codec lands.
#include "imaging/codecs/Codecs.h"

namespace imaging::codecs {
namespace {
class Dec final : public ImageDecoder {
  public:
    const ImageCodecInfo& Info() const override {
        static const ImageCodecInfo i = IcoCodecInfo();
        return i;
    }
    bool Matches(const uint8_t*, size_t) const override { return false; }
    std::shared_ptr<Image> Decode(std::shared_ptr<const std::vector<uint8_t>>,
                                  const DecodeOptions&) const override {
        return Image::Failed(NotImplemented);
    }
};
} // namespace
const ImageDecoder& IcoDecoder() {
    static const Dec d;
    return d;
}
} // namespace imaging::codecs
