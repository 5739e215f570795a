// WebP through libwebp. The decoder writes blue, green, red, alpha bytes, which is the memory order
// of 32bppARGB, so both directions work on the locked pixels without a copy.
#include "io/WebP.h"

#include "io/ReaderMemory.h"

#include <webp/decode.h>
#include <webp/encode.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace zerimo {
namespace {

using namespace imaging;

// No real WebP comes near this; a stream that claims more is not read into memory.
constexpr uint64_t MaxWebpBytes = uint64_t(1) << 30;

struct WebpBytes {
    uint8_t* data = nullptr;
    ~WebpBytes() { WebPFree(data); }
};

} // namespace

std::shared_ptr<Image> ReadWebp(Stream& stream) {
    std::vector<uint8_t> bytes;
    if (!ReadStreamBytes(stream, bytes, MaxWebpBytes)) return nullptr;

    WebPBitstreamFeatures features;
    if (WebPGetFeatures(bytes.data(), bytes.size(), &features) != VP8_STATUS_OK) return nullptr;
    // The still-image decoder refuses animations; they are left to the readers after this one.
    if (features.has_animation) return nullptr;
    if (features.width <= 0 || features.height <= 0 ||
        uint64_t(features.width) * uint64_t(features.height) > MaxFramePixels)
        return nullptr;

    auto bitmap = Image::CreateBitmap(features.width, features.height, PixelFormat32bppARGB);
    if (!Image::Usable(bitmap)) return nullptr;
    BitmapData locked;
    if (bitmap->LockBits(nullptr, ImageLockModeWrite, PixelFormat32bppARGB, &locked) != Ok) return nullptr;
    uint8_t* out = nullptr;
    if (locked.Stride > 0) {
        const size_t outSize = size_t(locked.Stride) * locked.Height;
        out = WebPDecodeBGRAInto(bytes.data(), bytes.size(), static_cast<uint8_t*>(locked.Scan0), outSize,
                                 locked.Stride);
    }
    bitmap->UnlockBits(&locked);
    // A stream cut short or damaged after a valid header decodes to nothing rather than to a
    // partly black picture.
    if (!out) return nullptr;
    return bitmap;
}

bool WriteWebp(Image& image, Stream& out, int quality) {
    if (IsIndexedPixelFormat(image.GetPixelFormat()) &&
        image.ConvertFormat(PixelFormat32bppARGB, DitherTypeNone, PaletteTypeCustom, nullptr, 0) != Ok)
        return false;

    BitmapData locked;
    if (image.LockBits(nullptr, ImageLockModeRead, PixelFormat32bppARGB, &locked) != Ok) return false;
    WebpBytes encoded;
    const size_t size =
        WebPEncodeBGRA(static_cast<const uint8_t*>(locked.Scan0), int(locked.Width), int(locked.Height),
                       locked.Stride, float(std::clamp(quality, 0, 100)), &encoded.data);
    image.UnlockBits(&locked);
    // libwebp returns no bytes for sizes it cannot code (above 16383 pixels a side) or when memory
    // runs out.
    if (size == 0 || !encoded.data) return false;
    return out.Write(encoded.data, size) && out.Flush();
}

} // namespace zerimo
