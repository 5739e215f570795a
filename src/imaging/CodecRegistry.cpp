#include "imaging/Codec.h"
#include "imaging/codecs/Codecs.h"
#include "imaging/codecs/metafile/Metafile.h"

#include <array>
#include <cstring>

namespace imaging {
namespace codecs {

namespace {
ImageCodecInfo Make(const Guid& clsid, const Guid& format, const char* name, const char* desc,
                    const char* ext, const char* mime, uint32_t flags) {
    ImageCodecInfo i;
    i.Clsid = clsid;
    i.FormatID = format;
    i.CodecName = name;
    i.FormatDescription = desc;
    i.FilenameExtension = ext;
    i.MimeType = mime;
    i.Flags = flags | ImageCodecFlagsBuiltin;
    return i;
}
constexpr uint32_t kRaster = ImageCodecFlagsSupportBitmap;
constexpr uint32_t kBoth = ImageCodecFlagsEncoder | ImageCodecFlagsDecoder | kRaster;
} // namespace

ImageCodecInfo BmpCodecInfo() {
    return Make(ClsidBmpCodec, ImageFormatBMP, "Built-in BMP Codec", "BMP", "*.BMP;*.DIB;*.RLE", "image/bmp",
                kBoth);
}
ImageCodecInfo JpegCodecInfo() {
    return Make(ClsidJpegCodec, ImageFormatJPEG, "Built-in JPEG Codec", "JPEG", "*.JPG;*.JPEG;*.JPE;*.JFIF",
                "image/jpeg", kBoth);
}
ImageCodecInfo GifCodecInfo() {
    return Make(ClsidGifCodec, ImageFormatGIF, "Built-in GIF Codec", "GIF", "*.GIF", "image/gif", kBoth);
}
ImageCodecInfo EmfCodecInfo() {
    return Make(ClsidEmfCodec, ImageFormatEMF, "Built-in EMF Codec", "EMF", "*.EMF", "image/x-emf",
                ImageCodecFlagsDecoder | ImageCodecFlagsSupportVector);
}
ImageCodecInfo WmfCodecInfo() {
    return Make(ClsidWmfCodec, ImageFormatWMF, "Built-in WMF Codec", "WMF", "*.WMF", "image/x-wmf",
                ImageCodecFlagsDecoder | ImageCodecFlagsSupportVector);
}
ImageCodecInfo TiffCodecInfo() {
    return Make(ClsidTiffCodec, ImageFormatTIFF, "Built-in TIFF Codec", "TIFF", "*.TIF;*.TIFF", "image/tiff",
                kBoth);
}
ImageCodecInfo PngCodecInfo() {
    return Make(ClsidPngCodec, ImageFormatPNG, "Built-in PNG Codec", "PNG", "*.PNG", "image/png", kBoth);
}
ImageCodecInfo IcoCodecInfo() {
    return Make(ClsidIcoCodec, ImageFormatIcon, "Built-in ICO Codec", "ICO", "*.ICO", "image/x-icon",
                ImageCodecFlagsDecoder | kRaster);
}

} // namespace codecs

namespace {

struct DecoderSlot {
    ImageCodecInfo info;
    const ImageDecoder* decoder;
};

std::array<DecoderSlot, 8>& DecoderTable() {
    using namespace codecs;
    static std::array<DecoderSlot, 8> table = {{
        {BmpCodecInfo(), &BmpDecoder()},
        {JpegCodecInfo(), &JpegDecoder()},
        {GifCodecInfo(), &GifDecoder()},
        {EmfCodecInfo(), &EmfDecoder()},
        {WmfCodecInfo(), &WmfDecoder()},
        {TiffCodecInfo(), &TiffDecoder()},
        {PngCodecInfo(), &PngDecoder()},
        {IcoCodecInfo(), &IcoDecoder()},
    }};
    return table;
}

const std::array<const ImageEncoder*, 5>& EncoderTable() {
    using namespace codecs;
    static const std::array<const ImageEncoder*, 5> table = {&BmpEncoder(), &JpegEncoder(), &GifEncoder(),
                                                             &TiffEncoder(), &PngEncoder()};
    return table;
}

} // namespace

const std::vector<ImageCodecInfo>& GetImageDecoders() {
    static const std::vector<ImageCodecInfo> list = [] {
        std::vector<ImageCodecInfo> v;
        for (const auto& slot : DecoderTable()) v.push_back(slot.info);
        return v;
    }();
    return list;
}

const std::vector<ImageCodecInfo>& GetImageEncoders() {
    static const std::vector<ImageCodecInfo> list = [] {
        std::vector<ImageCodecInfo> v;
        for (const ImageEncoder* e : EncoderTable()) v.push_back(e->Info());
        return v;
    }();
    return list;
}

const ImageEncoder* FindEncoder(const Guid& clsid) {
    for (const ImageEncoder* e : EncoderTable())
        if (e->Info().Clsid == clsid) return e;
    return nullptr;
}

const ImageDecoder* FindDecoder(const Guid& clsid) {
    for (const auto& slot : DecoderTable())
        if (slot.info.Clsid == clsid) return slot.decoder;
    return nullptr;
}

void RegisterDecoder(const Guid& clsid, const ImageDecoder* decoder) {
    for (auto& slot : DecoderTable())
        if (slot.info.Clsid == clsid) slot.decoder = decoder;
}

std::shared_ptr<Image> DecodeBytes(std::shared_ptr<const std::vector<uint8_t>> bytes,
                                   const DecodeOptions& options) {
    if (!bytes || bytes->empty()) return Image::Failed(UnknownImageFormat);
    for (const auto& slot : DecoderTable())
        if (slot.decoder && slot.decoder->Matches(bytes->data(), bytes->size()))
            return slot.decoder->Decode(bytes, options);
    return Image::Failed(UnknownImageFormat);
}

} // namespace imaging
