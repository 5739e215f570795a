// PNG through libpng. Pixels are decoded straight into the bitmap rows with libpng's transforms;
// libpng reports errors by longjmp, so every call into it happens inside a function that sets the
// jump point and owns no C++ objects itself (their state lives in a struct outside that frame).
#include "imaging/Bytes.h"
#include "imaging/Exif.h"
#include "imaging/Icc.h"
#include "imaging/Stream.h"
#include "imaging/codecs/Codecs.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstring>

namespace imaging::codecs {
namespace {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

void OnError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
void OnWarning(png_structp, png_const_charp) {}

StoredProperty Rationals(PROPID id, std::initializer_list<uint32_t> numDen) {
    StoredProperty p{id, PropertyTagTypeRational, {}};
    for (uint32_t v : numDen) AppendLE32(p.value, v);
    return p;
}

void AddProperty(std::vector<StoredProperty>& props, StoredProperty p) {
    for (auto& q : props)
        if (q.id == p.id) {
            q = std::move(p);
            return;
        }
    props.push_back(std::move(p));
}

// ---- decoding -------------------------------------------------------------------------------------------

struct Reader {
    const uint8_t* data = nullptr;
    size_t size = 0;
    size_t pos = 0;
};

void ReadBytes(png_structp png, png_bytep out, size_t length) {
    auto* r = static_cast<Reader*>(png_get_io_ptr(png));
    if (length > r->size - r->pos) png_error(png, "unexpected end of data");
    std::memcpy(out, r->data + r->pos, length);
    r->pos += length;
}

struct DecodeState {
    png_structp png = nullptr;
    png_infop info = nullptr;
    Reader reader;
    Frame frame;
    int colorType = 0;
    int bitDepth = 0;
    // 2-bit samples have no stored format of their own: they are read here and widened to 4 bits.
    std::unique_ptr<uint8_t[], FreeDeleter> narrow;
    size_t narrowStride = 0;
    // What a longjmp out of libpng reports.
    Status failure = GenericError;

    ~DecodeState() { png_destroy_read_struct(&png, &info, nullptr); }
};

// Reads the header, sets up the transforms, allocates the bitmap and reads every row and the
// chunks after the image data. Everything libpng may fail on happens here.
Status ReadImage(DecodeState& st) {
    png_structp png = st.png;
    png_infop info = st.info;
    if (setjmp(png_jmpbuf(png))) return st.failure;

    png_set_read_fn(png, &st.reader, ReadBytes);
    png_set_user_limits(png, uint32_t(MaxFramePixels), uint32_t(MaxFramePixels));
    // Bound what libpng allocates for one ancillary chunk's decompressed text or profile, and how
    // many such chunks it keeps.
    png_set_chunk_malloc_max(png, std::max<size_t>(st.reader.size, size_t(8) << 20));
    png_set_chunk_cache_max(png, 1000);
    // A damaged chunk of any kind makes the file corrupt rather than silently losing it.
    png_set_crc_action(png, PNG_CRC_ERROR_QUIT, PNG_CRC_ERROR_QUIT);
    png_read_info(png, info);

    png_uint_32 width = 0, height = 0;
    int interlace = 0;
    png_get_IHDR(png, info, &width, &height, &st.bitDepth, &st.colorType, &interlace, nullptr, nullptr);
    if (uint64_t(width) * height > MaxFramePixels) return OutOfMemory;
    const bool trns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;

    PixelFormat format = PixelFormat32bppARGB;
    bool narrow = false;
    switch (st.colorType) {
    case PNG_COLOR_TYPE_PALETTE:
    case PNG_COLOR_TYPE_GRAY:
        if (st.colorType == PNG_COLOR_TYPE_GRAY && trns && st.bitDepth == 16) {
            // Reduced to 8 bits, several grey levels would share the transparent one's index.
            png_set_tRNS_to_alpha(png);
            png_set_gray_to_rgb(png);
            png_set_scale_16(png);
            png_set_bgr(png);
            break;
        }
        if (st.bitDepth == 16) png_set_scale_16(png);
        format = st.bitDepth == 1   ? PixelFormat1bppIndexed
                 : st.bitDepth <= 4 ? PixelFormat4bppIndexed
                                    : PixelFormat8bppIndexed;
        narrow = st.bitDepth == 2;
        break;
    case PNG_COLOR_TYPE_RGB:
        if (trns)
            png_set_tRNS_to_alpha(png);
        else
            format = PixelFormat24bppRGB;
        png_set_scale_16(png);
        png_set_bgr(png);
        break;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        png_set_gray_to_rgb(png);
        [[fallthrough]];
    default: // RGBA
        png_set_scale_16(png);
        png_set_bgr(png);
        break;
    }
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);

    st.failure = OutOfMemory;
    Surface& px = st.frame.pixels;
    if (Status s = px.Allocate(width, height, format, interlace != PNG_INTERLACE_NONE || narrow); s != Ok)
        return s;
    const size_t rowBytes = png_get_rowbytes(png, info);
    if (narrow) {
        st.narrowStride = rowBytes;
        st.narrow.reset(static_cast<uint8_t*>(std::calloc(height, rowBytes)));
        if (!st.narrow) return OutOfMemory;
    } else if (rowBytes > size_t(px.stride)) {
        return GenericError; // the transforms did not give the stored layout
    }
    st.failure = GenericError;

    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 y = 0; y < height; ++y)
            png_read_row(png, narrow ? st.narrow.get() + y * st.narrowStride : px.Row(y), nullptr);
    png_read_end(png, info);
    return Ok;
}

void WidenTwoBitRows(DecodeState& st) {
    Surface& px = st.frame.pixels;
    for (uint32_t y = 0; y < px.height; ++y) {
        const uint8_t* in = st.narrow.get() + y * st.narrowStride;
        uint8_t* out = px.Row(y);
        for (uint32_t x = 0; x < px.width; x += 2) {
            const uint8_t b = in[x >> 2];
            const uint32_t shift = (x & 2) ? 0 : 4; // pixel pairs sit in the high or low nibble pair
            const uint8_t hi = (b >> (shift + 2)) & 3, lo = (b >> shift) & 3;
            out[x >> 1] = uint8_t((hi << 4) | lo);
        }
    }
}

ColorPalette GreyPalette(int bitDepth) {
    ColorPalette pal;
    pal.Flags = PaletteFlagsGrayScale;
    const uint32_t levels = bitDepth >= 8 ? 256u : (1u << bitDepth);
    for (uint32_t i = 0; i < levels; ++i) {
        const uint8_t g = uint8_t(i * 255 / (levels - 1));
        pal.Entries.push_back(MakeARGB(255, g, g, g));
    }
    return pal;
}

// The palette of an indexed result, with tRNS as alpha.
void BuildPalette(DecodeState& st) {
    Frame& f = st.frame;
    if (!IsIndexedPixelFormat(f.pixels.format)) return;
    png_bytep alpha = nullptr;
    int alphaCount = 0;
    png_color_16p trnsColor = nullptr;
    const bool trns = png_get_tRNS(st.png, st.info, &alpha, &alphaCount, &trnsColor) != 0;
    if (st.colorType == PNG_COLOR_TYPE_GRAY) {
        f.palette = GreyPalette(st.bitDepth);
        if (trns && trnsColor && trnsColor->gray < f.palette.Count()) {
            f.palette.Entries[trnsColor->gray] &= 0x00FFFFFF;
            f.palette.Flags |= PaletteFlagsHasAlpha;
        }
        return;
    }
    png_colorp plte = nullptr;
    int count = 0;
    png_get_PLTE(st.png, st.info, &plte, &count);
    count = std::min(count, 1 << std::min(st.bitDepth, 8));
    for (int i = 0; i < count; ++i) {
        const uint8_t a = (trns && alpha && i < alphaCount) ? alpha[i] : 255;
        if (a != 255) f.palette.Flags |= PaletteFlagsHasAlpha;
        f.palette.Entries.push_back(MakeARGB(a, plte[i].red, plte[i].green, plte[i].blue));
    }
}

PROPID TextTag(const char* key) {
    static const struct {
        const char* key;
        PROPID id;
    } map[] = {{"Title", 0x0320},     {"Author", 0x013B},   {"Description", 0x010E},
               {"Copyright", 0x8298}, {"Software", 0x0131}, {"Creation Time", 0x0132}};
    for (const auto& m : map)
        if (std::strcmp(key, m.key) == 0) return m.id;
    return 0;
}

struct ColourFacts {
    bool srgb = false;
    bool gamma = false;
    png_fixed_point gammaValue = 0;
    bool chrm = false;
    double chrmValues[8] = {};
    const uint8_t* icc = nullptr;
    size_t iccSize = 0;
};

// Turns the chunks libpng kept into resolution and property items. Only getters run here.
ColourFacts ReadMetadata(DecodeState& st) {
    png_structp png = st.png;
    png_infop info = st.info;
    Frame& f = st.frame;
    ColourFacts facts;

    png_uint_32 resX = 0, resY = 0;
    int unit = 0;
    if (png_get_pHYs(png, info, &resX, &resY, &unit)) {
        f.properties.push_back({PropertyTagPixelUnit, PropertyTagTypeByte, {uint8_t(unit)}});
        StoredProperty x{PropertyTagPixelPerUnitX, PropertyTagTypeLong, {}};
        AppendLE32(x.value, resX);
        StoredProperty y{PropertyTagPixelPerUnitY, PropertyTagTypeLong, {}};
        AppendLE32(y.value, resY);
        f.properties.push_back(std::move(x));
        f.properties.push_back(std::move(y));
        if (unit == PNG_RESOLUTION_METER && resX > 0 && resY > 0) {
            f.dpiX = float(resX * 0.0254);
            f.dpiY = float(resY * 0.0254);
            f.flags |= ImageFlagsHasRealDPI;
        }
    }

    png_fixed_point gamma = 0;
    if (png_get_gAMA_fixed(png, info, &gamma) && gamma > 0) {
        f.properties.push_back(Rationals(PropertyTagGamma, {100000u, uint32_t(gamma)}));
        facts.gamma = true;
        facts.gammaValue = gamma;
    }

    png_fixed_point c[8] = {};
    if (png_get_cHRM_fixed(png, info, &c[0], &c[1], &c[2], &c[3], &c[4], &c[5], &c[6], &c[7])) {
        auto u = [](png_fixed_point v) { return uint32_t(std::max<png_fixed_point>(v, 0)); };
        f.properties.push_back(Rationals(PropertyTagWhitePoint, {u(c[0]), 100000u, u(c[1]), 100000u}));
        f.properties.push_back(Rationals(PropertyTagPrimaryChromaticities,
                                         {u(c[2]), 100000u, u(c[3]), 100000u, u(c[4]), 100000u, u(c[5]),
                                          100000u, u(c[6]), 100000u, u(c[7]), 100000u}));
        facts.chrm = true;
        for (int i = 0; i < 8; ++i) facts.chrmValues[i] = c[i] / 100000.0;
    }

    int intent = 0;
    if (png_get_sRGB(png, info, &intent)) {
        f.properties.push_back({PropertyTagSRGBRenderingIntent, PropertyTagTypeByte, {uint8_t(intent)}});
        facts.srgb = true;
    }

    png_charp name = nullptr;
    int compression = 0;
    png_bytep profile = nullptr;
    png_uint_32 profileSize = 0;
    if (png_get_iCCP(png, info, &name, &compression, &profile, &profileSize) && profile && profileSize) {
        f.properties.push_back(
            {PropertyTagICCProfile, PropertyTagTypeUndefined, {profile, profile + profileSize}});
        facts.icc = profile;
        facts.iccSize = profileSize;
    }

    png_uint_32 exifSize = 0;
    png_bytep exif = nullptr;
    if (png_get_eXIf_1(png, info, &exifSize, &exif) && exif && exifSize) {
        std::vector<StoredProperty> items;
        ParseExif(exif, exifSize, items); // a damaged block still gives the items before the damage
        for (auto& item : items) AddProperty(f.properties, std::move(item));
    }

    png_textp text = nullptr;
    int textCount = 0;
    if (png_get_text(png, info, &text, &textCount) > 0) {
        for (int i = 0; i < textCount; ++i) {
            const PROPID id = text[i].key ? TextTag(text[i].key) : 0;
            if (!id || !text[i].text) continue;
            StoredProperty p{id, PropertyTagTypeASCII, {}};
            const size_t n = std::strlen(text[i].text);
            p.value.assign(text[i].text, text[i].text + n);
            p.value.push_back(0);
            AddProperty(f.properties, std::move(p));
        }
    }
    return facts;
}

void ApplyColourManagement(DecodeState& st, const ColourFacts& facts) {
    Frame& f = st.frame;
    if (facts.icc && ApplyEmbeddedProfile(f, facts.icc, facts.iccSize)) return;
    const bool indexed = IsIndexedPixelFormat(f.pixels.format);
    if (facts.srgb || !facts.gamma) return; // already sRGB, or nothing describes the source
    const double fileGamma = facts.gammaValue / 100000.0;
    const double* chrm = facts.chrm ? facts.chrmValues : nullptr;
    if (indexed)
        ApplyGammaChromaticities(f.palette, fileGamma, chrm);
    else
        ApplyGammaChromaticities(f.pixels, fileGamma, chrm);
}

class PngDecoderImpl final : public ImageDecoder {
  public:
    const ImageCodecInfo& Info() const override {
        static const ImageCodecInfo i = PngCodecInfo();
        return i;
    }
    bool Matches(const uint8_t* head, size_t size) const override {
        return size >= sizeof kSignature && std::memcmp(head, kSignature, sizeof kSignature) == 0;
    }
    std::shared_ptr<Image> Decode(std::shared_ptr<const std::vector<uint8_t>> bytes,
                                  const DecodeOptions& options) const override {
        if (!bytes || !Matches(bytes->data(), bytes->size())) return Image::Failed(UnknownImageFormat);
        // Refuse an oversized header before libpng sets anything up for it.
        if (bytes->size() >= 24 && std::memcmp(bytes->data() + 12, "IHDR", 4) == 0 &&
            uint64_t(ReadBE32(bytes->data() + 16)) * ReadBE32(bytes->data() + 20) > MaxFramePixels)
            return Image::Failed(OutOfMemory);

        // libpng allocates a text or profile chunk at its stated length before reading it, so
        // every chunk must first fit in what is left of the input.
        for (size_t at = 8; at + 12 <= bytes->size();) {
            const uint32_t length = ReadBE32(bytes->data() + at);
            if (length > bytes->size() - at - 12) return Image::Failed(GenericError);
            const bool end = std::memcmp(bytes->data() + at + 4, "IEND", 4) == 0;
            at += size_t(length) + 12;
            if (end) break;
        }

        DecodeState st;
        st.reader = {bytes->data(), bytes->size(), 0};
        st.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
        if (!st.png) return Image::Failed(OutOfMemory);
        st.info = png_create_info_struct(st.png);
        if (!st.info) return Image::Failed(OutOfMemory);

        if (Status s = ReadImage(st); s != Ok) return Image::Failed(s);
        if (st.narrow) WidenTwoBitRows(st);
        BuildPalette(st);
        const bool grey = (st.colorType & PNG_COLOR_MASK_COLOR) == 0;
        st.frame.flags |= (grey ? ImageFlagsColorSpaceGRAY : ImageFlagsColorSpaceRGB) |
                          ImageFlagsHasRealPixelSize | ImageFlagsReadOnly;
        const ColourFacts facts = ReadMetadata(st);
        if (options.useIcm) ApplyColourManagement(st, facts);
        return Image::FromFrames(std::move(st.frame), ImageFormatPNG, {}, nullptr);
    }
};

// ---- encoding -------------------------------------------------------------------------------------------

void WriteBytes(png_structp png, png_bytep data, size_t length) {
    auto* out = static_cast<Stream*>(png_get_io_ptr(png));
    if (!out->Write(data, length)) png_error(png, "write failed");
}
void FlushNothing(png_structp) {}

struct EncodeState {
    png_structp png = nullptr;
    png_infop info = nullptr;
    Stream* out = nullptr;
    uint32_t width = 0;
    uint32_t height = 0;
    int colorType = PNG_COLOR_TYPE_RGB;
    int bitDepth = 8;
    bool bgr = false;
    bool stripFiller = false;
    bool greyFrom16 = false; // rows are 16-bit grey samples, written as their high bytes
    const uint8_t* scan0 = nullptr;
    int32_t stride = 0;
    std::vector<png_color> plte;
    std::vector<uint8_t> trns;
    std::vector<uint8_t> row;
    uint32_t ppmX = 0;
    uint32_t ppmY = 0;

    ~EncodeState() { png_destroy_write_struct(&png, &info); }
};

Status WriteImage(EncodeState& st) {
    png_structp png = st.png;
    png_infop info = st.info;
    if (setjmp(png_jmpbuf(png))) return Win32Error;

    png_set_write_fn(png, st.out, WriteBytes, FlushNothing);
    png_set_IHDR(png, info, st.width, st.height, st.bitDepth, st.colorType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!st.plte.empty()) png_set_PLTE(png, info, st.plte.data(), int(st.plte.size()));
    if (!st.trns.empty()) png_set_tRNS(png, info, st.trns.data(), int(st.trns.size()), nullptr);
    if (st.ppmX && st.ppmY) png_set_pHYs(png, info, st.ppmX, st.ppmY, PNG_RESOLUTION_METER);
    png_write_info(png, info);
    if (st.bgr) png_set_bgr(png);
    if (st.stripFiller) png_set_filler(png, 0, PNG_FILLER_AFTER);

    for (uint32_t y = 0; y < st.height; ++y) {
        const uint8_t* src = st.scan0 + int64_t(y) * st.stride;
        if (st.greyFrom16) {
            for (uint32_t x = 0; x < st.width; ++x) st.row[x] = src[2 * x + 1];
            src = st.row.data();
        }
        png_write_row(png, const_cast<png_bytep>(src));
    }
    png_write_end(png, info);
    return Ok;
}

// The palette of an indexed image as PLTE and tRNS, with enough entries for every index used.
void IndexedPalette(const Image& image, const BitmapData& data, EncodeState& st) {
    const ColorPalette& pal = image.Palette();
    const uint32_t bpp = GetPixelFormatSize(data.PixelFormat);
    uint32_t maxIndex = 0;
    for (uint32_t y = 0; y < data.Height; ++y) {
        const uint8_t* row = static_cast<const uint8_t*>(data.Scan0) + int64_t(y) * data.Stride;
        for (uint32_t x = 0; x < data.Width; ++x) {
            const uint32_t bit = x * bpp;
            const uint32_t v = (row[bit >> 3] >> (8 - bpp - (bit & 7))) & ((1u << bpp) - 1);
            maxIndex = std::max(maxIndex, v);
        }
    }
    const uint32_t count = std::min(std::max(pal.Count(), maxIndex + 1), 1u << bpp);
    uint32_t trnsCount = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const ARGB c = i < pal.Count() ? pal.Entries[i] : 0xFF000000u;
        st.plte.push_back({RedOf(c), GreenOf(c), BlueOf(c)});
        st.trns.push_back(AlphaOf(c));
        if (AlphaOf(c) != 255) trnsCount = i + 1;
    }
    st.trns.resize(trnsCount);
}

Status EncodePng(Image& image, Stream& out) {
    if (image.GetType() == ImageTypeUnknown) return InvalidParameter;
    std::shared_ptr<Image> rendered;
    Image* src = &image;
    if (image.GetType() == ImageTypeMetafile) {
        rendered = image.Clone(Rect{0, 0, int32_t(image.GetWidth()), int32_t(image.GetHeight())},
                               PixelFormat32bppARGB);
        if (Status s = rendered->GetLastStatus(); s != Ok) return s;
        src = rendered.get();
    }

    EncodeState st;
    st.out = &out;
    st.width = src->GetWidth();
    st.height = src->GetHeight();
    const PixelFormat stored = src->GetPixelFormat();
    PixelFormat lockFormat = PixelFormat24bppRGB;
    switch (stored) {
    case PixelFormat1bppIndexed:
    case PixelFormat4bppIndexed:
    case PixelFormat8bppIndexed:
        lockFormat = stored;
        st.colorType = PNG_COLOR_TYPE_PALETTE;
        st.bitDepth = int(GetPixelFormatSize(stored));
        break;
    case PixelFormat16bppGrayScale:
        lockFormat = stored;
        st.colorType = PNG_COLOR_TYPE_GRAY;
        st.greyFrom16 = true;
        st.row.resize(st.width);
        break;
    case PixelFormat32bppRGB:
        lockFormat = stored;
        st.bgr = st.stripFiller = true;
        break;
    case PixelFormat32bppARGB:
    case PixelFormat32bppPARGB:
    case PixelFormat16bppARGB1555:
    case PixelFormat64bppARGB:
    case PixelFormat64bppPARGB:
        lockFormat = PixelFormat32bppARGB;
        st.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
        st.bgr = true;
        break;
    default: // 24bpp, 16bpp RGB, 48bpp, CMYK
        st.bgr = true;
        break;
    }

    BitmapData data;
    if (Status s = src->LockBits(nullptr, ImageLockModeRead, lockFormat, &data); s != Ok) {
        src->GetLastStatus();
        return s;
    }
    st.scan0 = static_cast<const uint8_t*>(data.Scan0);
    st.stride = data.Stride;
    if (st.colorType == PNG_COLOR_TYPE_PALETTE) IndexedPalette(*src, data, st);
    const float dpiX = src->GetHorizontalResolution(), dpiY = src->GetVerticalResolution();
    if (dpiX > 0 && dpiY > 0 && dpiX < 1e6f && dpiY < 1e6f) {
        st.ppmX = uint32_t(std::lround(dpiX / 0.0254));
        st.ppmY = uint32_t(std::lround(dpiY / 0.0254));
    }

    Status s = OutOfMemory;
    st.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
    if (st.png) st.info = png_create_info_struct(st.png);
    if (st.info) s = WriteImage(st);
    src->UnlockBits(&data);
    return s;
}

class PngEncoderImpl final : public ImageEncoder {
  public:
    const ImageCodecInfo& Info() const override {
        static const ImageCodecInfo i = PngCodecInfo();
        return i;
    }
    Status Encode(Image& image, Stream& out, const EncoderParameters*) const override {
        return EncodePng(image, out);
    }
};

} // namespace

const ImageDecoder& PngDecoder() {
    static const PngDecoderImpl d;
    return d;
}
const ImageEncoder& PngEncoder() {
    static const PngEncoderImpl e;
    return e;
}

} // namespace imaging::codecs
