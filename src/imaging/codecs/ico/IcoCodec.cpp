// Icon files: a directory of images, each a headerless DIB (colour bits, then a 1-bit AND mask) or a
// whole PNG file. The best image is decoded, always to 32bppARGB.
#include "imaging/Bytes.h"
#include "imaging/PixelConvert.h"
#include "imaging/codecs/Codecs.h"
#include "imaging/codecs/bmp/Dib.h"

#include <cstring>

namespace imaging::codecs {
namespace {

constexpr size_t DirHeaderSize = 6;
constexpr size_t DirEntrySize = 16;
constexpr uint8_t PngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

bool IsPng(const uint8_t* p, size_t n) {
    return n >= sizeof PngSignature && std::memcmp(p, PngSignature, sizeof PngSignature) == 0;
}

struct Entry {
    const uint8_t* data = nullptr;
    size_t size = 0;
    uint64_t width = 0, height = 0;
    uint32_t bitCount = 0;
};

// Size and depth as the image itself states them; the directory's bytes are often wrong.
void Measure(const uint8_t* dir, Entry& e) {
    e.width = dir[0] ? dir[0] : 256;
    e.height = dir[1] ? dir[1] : 256;
    e.bitCount = ReadLE16(dir + 6);
    if (e.bitCount == 0) {
        const uint32_t colours = dir[2];
        e.bitCount = colours == 0 ? 8 : colours <= 2 ? 1 : colours <= 16 ? 4 : 8;
    }
    if (IsPng(e.data, e.size) && e.size >= 26) {
        static const uint8_t channels[7] = {1, 0, 3, 1, 2, 0, 4};
        const uint8_t depth = e.data[24], type = e.data[25];
        e.width = ReadBE32(e.data + 16);
        e.height = ReadBE32(e.data + 20);
        e.bitCount = depth * (type < 7 ? channels[type] : 0);
    } else if (e.size >= 16 && ReadLE32(e.data) >= 16) {
        const int64_t w = int32_t(ReadLE32(e.data + 4)), h = int32_t(ReadLE32(e.data + 8));
        e.width = w > 0 ? uint64_t(w) : 0;
        e.height = h > 0 ? uint64_t(h) / 2 : 0;
        e.bitCount = ReadLE16(e.data + 14);
    }
}

Frame IconFrame() {
    Frame f;
    f.flags = ImageFlagsColorSpaceRGB | ImageFlagsHasRealPixelSize | ImageFlagsReadOnly;
    return f;
}

std::shared_ptr<Image> DecodePngEntry(const Entry& e, const DecodeOptions& options) {
    auto bytes = std::make_shared<std::vector<uint8_t>>(e.data, e.data + e.size);
    auto png = PngDecoder().Decode(std::move(bytes), options);
    if (!png) return Image::Failed(GenericError);
    if (Status s = png->GetLastStatus(); s != Ok) return Image::Failed(s);
    const Rect all{0, 0, int32_t(png->GetWidth()), int32_t(png->GetHeight())};
    auto argb = png->GetPixelFormat() == PixelFormat32bppARGB ? png : png->Clone(all, PixelFormat32bppARGB);
    if (Status s = argb->GetLastStatus(); s != Ok) return Image::Failed(s);
    Frame f = IconFrame();
    f.pixels = std::move(argb->ActiveFrameData().pixels);
    return Image::FromFrames(std::move(f), ImageFormatIcon, {}, nullptr);
}

std::shared_ptr<Image> DecodeDibEntry(const Entry& e) {
    dib::DibInfo d;
    if (Status s = dib::ParseInfo(e.data, e.size, e.size, d); s != Ok) return Image::Failed(s);
    // The header counts the colour rows and the mask rows together, bottom-up.
    if (d.topDown || d.height < 2 || (d.compression != dib::BiRgb && d.compression != dib::BiBitfields))
        return Image::Failed(GenericError);
    d.height /= 2;
    if (uint64_t(d.width) * d.height > MaxFramePixels) return Image::Failed(OutOfMemory);

    const uint8_t* bits = e.data + d.infoEnd;
    const size_t bitsSize = e.size - d.infoEnd;
    Frame xorFrame;
    dib::BitsOptions opt;
    opt.alphaInRgb32 = true;
    opt.checkSizeImage = false; // icon writers fill it with anything, the mask included or not
    if (Status s = dib::DecodeBits(d, bits, bitsSize, opt, xorFrame); s != Ok) return Image::Failed(s);

    Frame f = IconFrame();
    Surface& px = f.pixels;
    const PixelFormat xorFormat = xorFrame.pixels.format;
    if (xorFormat == PixelFormat32bppARGB) {
        px = std::move(xorFrame.pixels);
    } else {
        if (Status s = px.Allocate(d.width, d.height, PixelFormat32bppARGB, false); s != Ok)
            return Image::Failed(s);
        ConvertRect(xorFrame.pixels, &xorFrame.palette, Rect{0, 0, int32_t(d.width), int32_t(d.height)},
                    px.data.get(), px.stride, PixelFormat32bppARGB, nullptr);
    }

    // An image with alpha carries its own transparency, unless every alpha byte is 0: such icons
    // predate alpha and rely on the mask like the others.
    bool ownAlpha = false;
    if (xorFormat == PixelFormat32bppARGB)
        for (uint32_t y = 0; y < px.height && !ownAlpha; ++y)
            for (uint32_t x = 0; x < px.width && !ownAlpha; ++x) ownAlpha = px.Row(y)[4 * size_t(x) + 3] != 0;
    if (!ownAlpha) {
        const uint64_t xorBytes = ((uint64_t(d.width) * d.bitCount + 31) / 32) * 4 * d.height;
        const uint64_t maskRow = ((uint64_t(d.width) + 31) / 32) * 4;
        if (xorBytes > bitsSize || maskRow * d.height > bitsSize - xorBytes)
            return Image::Failed(GenericError);
        const uint8_t* mask = bits + xorBytes;
        for (uint32_t y = 0; y < px.height; ++y) {
            const uint8_t* m = mask + (px.height - 1 - y) * maskRow;
            uint8_t* row = px.Row(y);
            for (uint32_t x = 0; x < px.width; ++x) {
                uint8_t* o = row + 4 * size_t(x);
                if ((m[x >> 3] >> (7 - (x & 7))) & 1)
                    std::memset(o, 0, 4);
                else
                    o[3] = 255;
            }
        }
    }
    return Image::FromFrames(std::move(f), ImageFormatIcon, {}, nullptr);
}

class IcoDecoderImpl final : public ImageDecoder {
  public:
    const ImageCodecInfo& Info() const override {
        static const ImageCodecInfo i = IcoCodecInfo();
        return i;
    }
    bool Matches(const uint8_t* head, size_t size) const override {
        return size >= DirHeaderSize && ReadLE16(head) == 0 && ReadLE16(head + 2) == 1 &&
               ReadLE16(head + 4) != 0;
    }
    std::shared_ptr<Image> Decode(std::shared_ptr<const std::vector<uint8_t>> bytes,
                                  const DecodeOptions& options) const override {
        if (!bytes) return Image::Failed(InvalidParameter);
        const uint8_t* p = bytes->data();
        const size_t size = bytes->size();
        if (!Matches(p, size)) return Image::Failed(UnknownImageFormat);
        const size_t count = ReadLE16(p + 4);
        if (size - DirHeaderSize < count * DirEntrySize) return Image::Failed(GenericError);

        Entry best;
        bool found = false;
        for (size_t i = 0; i < count; ++i) {
            const uint8_t* dir = p + DirHeaderSize + i * DirEntrySize;
            Entry e;
            const uint32_t len = ReadLE32(dir + 8), offset = ReadLE32(dir + 12);
            // An image outside the file means a damaged or cut-off file.
            if (len == 0 || offset > size || len > size - offset) return Image::Failed(GenericError);
            e.data = p + offset;
            e.size = len;
            Measure(dir, e);
            const uint64_t area = e.width * e.height, bestArea = best.width * best.height;
            if (!found || area > bestArea || (area == bestArea && e.bitCount > best.bitCount)) {
                best = e;
                found = true;
            }
        }
        return IsPng(best.data, best.size) ? DecodePngEntry(best, options) : DecodeDibEntry(best);
    }
};

} // namespace

const ImageDecoder& IcoDecoder() {
    static const IcoDecoderImpl d;
    return d;
}

} // namespace imaging::codecs
