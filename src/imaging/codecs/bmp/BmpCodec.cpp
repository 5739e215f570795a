// BMP files: a 14-byte file header in front of a device-independent bitmap.
#include "imaging/Bytes.h"
#include "imaging/Icc.h"
#include "imaging/Stream.h"
#include "imaging/codecs/Codecs.h"
#include "imaging/codecs/bmp/Dib.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace imaging::codecs {
namespace {

constexpr size_t FileHeaderSize = 14;
constexpr uint32_t LcsSrgb = 0x73524742; // 'sRGB'
constexpr uint32_t LcsGmImages = 4;

class BmpDecoderImpl final : public ImageDecoder {
  public:
    const ImageCodecInfo& Info() const override {
        static const ImageCodecInfo i = BmpCodecInfo();
        return i;
    }
    bool Matches(const uint8_t* head, size_t size) const override {
        return size >= 2 && head[0] == 'B' && head[1] == 'M';
    }
    std::shared_ptr<Image> Decode(std::shared_ptr<const std::vector<uint8_t>> bytes,
                                  const DecodeOptions& options) const override {
        if (!bytes) return Image::Failed(InvalidParameter);
        const uint8_t* p = bytes->data();
        const size_t size = bytes->size();
        if (size < FileHeaderSize + 4 || !Matches(p, size)) return Image::Failed(UnknownImageFormat);
        // A file size beyond the bytes present means the file was cut short.
        const uint32_t fileSize = ReadLE32(p + 2);
        const uint32_t offBits = ReadLE32(p + 10);
        if (fileSize > size) return Image::Failed(GenericError);
        if (offBits < FileHeaderSize || offBits > size) return Image::Failed(GenericError);

        dib::DibInfo d;
        const uint8_t* info = p + FileHeaderSize;
        const size_t infoSize = size - FileHeaderSize;
        if (Status s = dib::ParseInfo(info, infoSize, offBits - FileHeaderSize, d); s != Ok)
            return Image::Failed(s);
        // Pixels inside the header or its masks would be read as both.
        if (offBits - FileHeaderSize < d.tableOffset) return Image::Failed(GenericError);

        Frame frame;
        bool realDpi = false;
        if (Status s = dib::Resolution(d, frame.dpiX, frame.dpiY, realDpi); s != Ok) return Image::Failed(s);
        if (Status s = dib::DecodeBits(d, p + offBits, size - offBits, {}, frame); s != Ok)
            return Image::Failed(s);
        frame.flags = ImageFlagsColorSpaceRGB | ImageFlagsHasRealPixelSize | ImageFlagsReadOnly |
                      (realDpi ? uint32_t(ImageFlagsHasRealDPI) : 0u);

        if (d.csType == dib::ProfileEmbedded && d.profileSize > 0 && d.profileData <= infoSize &&
            d.profileSize <= infoSize - d.profileData) {
            const uint8_t* icc = info + d.profileData;
            frame.properties.push_back({PropertyTagICCProfile, PropertyTagTypeUndefined,
                                        std::vector<uint8_t>(icc, icc + d.profileSize)});
            if (options.useIcm) ApplyEmbeddedProfile(frame, icc, d.profileSize);
        }
        return Image::FromFrames(std::move(frame), ImageFormatBMP, {}, nullptr);
    }
};

// Little-endian header bytes.
struct Bytes {
    std::vector<uint8_t> v;
    void U16(uint32_t x) {
        v.push_back(uint8_t(x));
        v.push_back(uint8_t(x >> 8));
    }
    void U32(uint32_t x) {
        U16(x & 0xFFFF);
        U16(x >> 16);
    }
};

int32_t PelsPerMeter(float dpi) {
    const double ppm = std::round(double(dpi) / 0.0254);
    return (ppm > 0 && ppm < 2147483647.0) ? int32_t(ppm) : 0;
}

// The layout written for each stored format; formats without a BMP layout go through a conversion.
struct Layout {
    PixelFormat lockFormat;
    uint16_t bitCount;
    uint32_t compression;
    bool v5Alpha; // BITMAPV5HEADER with an alpha mask
};

Layout LayoutFor(PixelFormat f) {
    switch (f) {
    case PixelFormat1bppIndexed:
        return {f, 1, dib::BiRgb, false};
    case PixelFormat4bppIndexed:
        return {f, 4, dib::BiRgb, false};
    case PixelFormat8bppIndexed:
        return {f, 8, dib::BiRgb, false};
    case PixelFormat16bppRGB555:
        return {f, 16, dib::BiRgb, false};
    case PixelFormat16bppRGB565:
        return {f, 16, dib::BiBitfields, false};
    case PixelFormat24bppRGB:
        return {f, 24, dib::BiRgb, false};
    case PixelFormat32bppRGB:
        return {f, 32, dib::BiRgb, false};
    default:
        if (IsAlphaPixelFormat(f)) return {PixelFormat32bppARGB, 32, dib::BiBitfields, true};
        return {PixelFormat24bppRGB, 24, dib::BiRgb, false};
    }
}

class BmpEncoderImpl final : public ImageEncoder {
  public:
    const ImageCodecInfo& Info() const override {
        static const ImageCodecInfo i = BmpCodecInfo();
        return i;
    }

    Status Encode(Image& image, Stream& out, const EncoderParameters*) const override {
        const Layout lay = LayoutFor(image.GetPixelFormat());
        BitmapData data;
        if (Status s = image.LockBits(nullptr, ImageLockModeRead, lay.lockFormat, &data); s != Ok) {
            image.GetLastStatus();
            return s;
        }
        const Status s = Write(image, data, lay, out);
        image.UnlockBits(&data);
        return s;
    }

  private:
    static std::vector<ARGB> ColorTable(const Image& image, const BitmapData& data, uint16_t bitCount) {
        const uint32_t full = 1u << bitCount;
        std::vector<ARGB> table = image.Palette().Entries;
        if (table.size() > full) table.resize(full);
        // Every index the pixels use needs an entry; missing ones read as opaque black.
        uint32_t maxIndex = 0;
        for (uint32_t y = 0; y < data.Height && maxIndex + 1 < full; ++y) {
            const uint8_t* row = static_cast<const uint8_t*>(data.Scan0) + int64_t(y) * data.Stride;
            for (uint32_t x = 0; x < data.Width; ++x) {
                uint32_t v = bitCount == 8   ? row[x]
                             : bitCount == 4 ? ((x & 1) ? (row[x >> 1] & 15) : (row[x >> 1] >> 4))
                                             : (row[x >> 3] >> (7 - (x & 7))) & 1;
                maxIndex = std::max(maxIndex, v);
            }
        }
        if (table.size() <= maxIndex) table.resize(full, 0xFF000000u);
        return table;
    }

    static Status Write(const Image& image, const BitmapData& data, const Layout& lay, Stream& out) {
        const uint32_t w = data.Width, h = data.Height;
        const uint64_t rowBytes = ((uint64_t(w) * lay.bitCount + 31) / 32) * 4;
        const uint64_t imageBytes = rowBytes * h;
        std::vector<ARGB> table;
        if (lay.bitCount <= 8) table = ColorTable(image, data, lay.bitCount);
        const uint32_t headerSize = lay.v5Alpha ? 124 : 40;
        const uint32_t masksBytes = (lay.compression == dib::BiBitfields && !lay.v5Alpha) ? 12 : 0;
        const uint64_t offBits = 14 + uint64_t(headerSize) + masksBytes + 4 * table.size();
        const uint64_t fileSize = offBits + imageBytes;
        if (fileSize > 0xFFFFFFFFu) return ValueOverflow;

        Bytes b;
        b.v.reserve(size_t(offBits));
        b.U16('B' | ('M' << 8));
        b.U32(uint32_t(fileSize));
        b.U32(0);
        b.U32(uint32_t(offBits));
        b.U32(headerSize);
        b.U32(w);
        b.U32(h); // bottom-up rows
        b.U16(1);
        b.U16(lay.bitCount);
        b.U32(lay.compression);
        b.U32(uint32_t(imageBytes));
        b.U32(uint32_t(PelsPerMeter(image.GetHorizontalResolution())));
        b.U32(uint32_t(PelsPerMeter(image.GetVerticalResolution())));
        b.U32(table.size() == (size_t(1) << lay.bitCount) ? 0 : uint32_t(table.size()));
        b.U32(0);
        if (lay.v5Alpha) {
            b.U32(0x00FF0000);
            b.U32(0x0000FF00);
            b.U32(0x000000FF);
            b.U32(0xFF000000);
            b.U32(LcsSrgb);
            for (int i = 0; i < 12; ++i) b.U32(0); // endpoints and gammas, unused with sRGB
            b.U32(LcsGmImages);
            b.U32(0); // profile data
            b.U32(0); // profile size
            b.U32(0);
        } else if (masksBytes) {
            b.U32(0xF800);
            b.U32(0x07E0);
            b.U32(0x001F);
        }
        for (ARGB c : table) b.U32(c & 0x00FFFFFF);
        if (!out.Write(b.v.data(), b.v.size())) return Win32Error;

        const size_t pixelBytes = size_t((uint64_t(w) * lay.bitCount + 7) / 8);
        std::vector<uint8_t> row(size_t(rowBytes), 0);
        for (uint32_t i = 0; i < h; ++i) {
            const uint32_t y = h - 1 - i;
            const uint8_t* src = static_cast<const uint8_t*>(data.Scan0) + int64_t(y) * data.Stride;
            std::memcpy(row.data(), src, pixelBytes);
            if (lay.lockFormat == PixelFormat32bppRGB)
                for (uint32_t x = 0; x < w; ++x) row[4 * size_t(x) + 3] = 0; // the reserved byte
            if (!out.Write(row.data(), row.size())) return Win32Error;
        }
        return Ok;
    }
};

} // namespace

const ImageDecoder& BmpDecoder() {
    static const BmpDecoderImpl d;
    return d;
}
const ImageEncoder& BmpEncoder() {
    static const BmpEncoderImpl e;
    return e;
}

} // namespace imaging::codecs
