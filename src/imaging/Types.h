#pragma once
/// Plain value types of the image layer: colours, statuses, GUIDs, rectangles, pixel formats and the
/// well-known constants (flags, frame dimensions, raw formats, property tags, encoder parameters).

#include <cstdint>
#include <string>

namespace imaging {

/// 0xAARRGGBB; in memory a 32-bit pixel is the bytes B, G, R, A.
using ARGB = uint32_t;
using PROPID = uint32_t;

constexpr uint8_t AlphaOf(ARGB c) {
    return uint8_t(c >> 24);
}
constexpr uint8_t RedOf(ARGB c) {
    return uint8_t(c >> 16);
}
constexpr uint8_t GreenOf(ARGB c) {
    return uint8_t(c >> 8);
}
constexpr uint8_t BlueOf(ARGB c) {
    return uint8_t(c);
}
constexpr ARGB MakeARGB(uint8_t a, uint8_t r, uint8_t g, uint8_t b) {
    return (ARGB(a) << 24) | (ARGB(r) << 16) | (ARGB(g) << 8) | ARGB(b);
}

/// Result of every image-layer call, with the platform's numbering.
enum Status : int {
    Ok = 0,
    GenericError = 1,
    InvalidParameter = 2,
    OutOfMemory = 3,
    ObjectBusy = 4,
    InsufficientBuffer = 5,
    NotImplemented = 6,
    Win32Error = 7,
    WrongState = 8,
    Aborted = 9,
    FileNotFound = 10,
    ValueOverflow = 11,
    AccessDenied = 12,
    UnknownImageFormat = 13,
    FontFamilyNotFound = 14,
    FontStyleNotFound = 15,
    NotTrueTypeFont = 16,
    UnsupportedGdiplusVersion = 17,
    GdiplusNotInitialized = 18,
    PropertyNotFound = 19,
    PropertyNotSupported = 20,
};
const char* StatusName(Status s);

/// A 16-byte class or format id, compared bytewise; printed as {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}.
struct Guid {
    uint32_t data1 = 0;
    uint16_t data2 = 0;
    uint16_t data3 = 0;
    uint8_t data4[8] = {};

    friend bool operator==(const Guid& a, const Guid& b);
    friend bool operator!=(const Guid& a, const Guid& b) { return !(a == b); }
    friend bool operator<(const Guid& a, const Guid& b);
    bool IsNull() const { return *this == Guid{}; }
    /// Lower-case text with braces.
    std::string ToString() const;
    /// Accepts the form of ToString (braces optional, any case); false on malformed text.
    static bool Parse(const std::string& text, Guid& out);
};
constexpr Guid MakeGuid(uint32_t d1, uint16_t d2, uint16_t d3, uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3,
                        uint8_t b4, uint8_t b5, uint8_t b6, uint8_t b7) {
    return Guid{d1, d2, d3, {b0, b1, b2, b3, b4, b5, b6, b7}};
}

struct Point {
    int32_t X = 0, Y = 0;
};
struct PointF {
    float X = 0, Y = 0;
};
struct Size {
    int32_t Width = 0, Height = 0;
};
struct SizeF {
    float Width = 0, Height = 0;
};
struct Rect {
    int32_t X = 0, Y = 0, Width = 0, Height = 0;
};
struct RectF {
    float X = 0, Y = 0, Width = 0, Height = 0;
};

// ---- pixel formats -------------------------------------------------------------------------------

using PixelFormat = uint32_t;
constexpr PixelFormat PixelFormatIndexed = 0x00010000;
constexpr PixelFormat PixelFormatGDI = 0x00020000;
constexpr PixelFormat PixelFormatAlpha = 0x00040000;
constexpr PixelFormat PixelFormatPAlpha = 0x00080000;
constexpr PixelFormat PixelFormatExtended = 0x00100000;
constexpr PixelFormat PixelFormatCanonical = 0x00200000;

constexpr PixelFormat PixelFormatUndefined = 0;
constexpr PixelFormat PixelFormatDontCare = 0;
constexpr PixelFormat PixelFormat1bppIndexed = 0x30101;
constexpr PixelFormat PixelFormat4bppIndexed = 0x30402;
constexpr PixelFormat PixelFormat8bppIndexed = 0x30803;
constexpr PixelFormat PixelFormat16bppGrayScale = 0x101004;
constexpr PixelFormat PixelFormat16bppRGB555 = 0x21005;
constexpr PixelFormat PixelFormat16bppRGB565 = 0x21006;
constexpr PixelFormat PixelFormat16bppARGB1555 = 0x61007;
constexpr PixelFormat PixelFormat24bppRGB = 0x21808;
constexpr PixelFormat PixelFormat32bppRGB = 0x22009;
constexpr PixelFormat PixelFormat32bppARGB = 0x26200A;
constexpr PixelFormat PixelFormat32bppPARGB = 0xE200B;
constexpr PixelFormat PixelFormat48bppRGB = 0x10300C;
constexpr PixelFormat PixelFormat64bppARGB = 0x34400D;
constexpr PixelFormat PixelFormat64bppPARGB = 0x1A400E;
constexpr PixelFormat PixelFormat32bppCMYK = 0x200F;

constexpr uint32_t GetPixelFormatSize(PixelFormat f) {
    return (f >> 8) & 0xFF;
}
constexpr bool IsIndexedPixelFormat(PixelFormat f) {
    return (f & PixelFormatIndexed) != 0;
}
constexpr bool IsAlphaPixelFormat(PixelFormat f) {
    return (f & PixelFormatAlpha) != 0;
}
constexpr bool IsPremultipliedPixelFormat(PixelFormat f) {
    return (f & PixelFormatPAlpha) != 0;
}
/// True for the fifteen formats this layer stores.
bool IsValidPixelFormat(PixelFormat f);
/// The platform's display name ("8 bpp Indexed", ...), chosen by the low four bits; 15 counts as 0.
const char* PixelFormatName(PixelFormat f);
/// Bytes of one row, padded to 4 bytes as device-independent bitmaps are.
constexpr int32_t DefaultStride(uint32_t width, PixelFormat f) {
    return int32_t(((uint64_t(width) * GetPixelFormatSize(f) + 31) / 32) * 4);
}

/// A frame above this many pixels is refused with OutOfMemory before anything is allocated.
constexpr uint64_t MaxFramePixels = uint64_t(1) << 28;

// ---- image facts ---------------------------------------------------------------------------------

enum ImageType : int { ImageTypeUnknown = 0, ImageTypeBitmap = 1, ImageTypeMetafile = 2 };

enum ImageFlags : uint32_t {
    ImageFlagsNone = 0,
    ImageFlagsScalable = 0x1,
    ImageFlagsHasAlpha = 0x2,
    ImageFlagsHasTranslucent = 0x4,
    ImageFlagsPartiallyScalable = 0x8,
    ImageFlagsColorSpaceRGB = 0x10,
    ImageFlagsColorSpaceCMYK = 0x20,
    ImageFlagsColorSpaceGRAY = 0x40,
    ImageFlagsColorSpaceYCBCR = 0x80,
    ImageFlagsColorSpaceYCCK = 0x100,
    ImageFlagsHasRealDPI = 0x1000,
    ImageFlagsHasRealPixelSize = 0x2000,
    ImageFlagsReadOnly = 0x10000,
    ImageFlagsCaching = 0x20000,
};

enum RotateFlipType : int {
    RotateNoneFlipNone = 0,
    Rotate90FlipNone = 1,
    Rotate180FlipNone = 2,
    Rotate270FlipNone = 3,
    RotateNoneFlipX = 4,
    Rotate90FlipX = 5,
    Rotate180FlipX = 6,
    Rotate270FlipX = 7,
    RotateNoneFlipY = Rotate180FlipX,
    Rotate90FlipY = Rotate270FlipX,
    Rotate180FlipY = RotateNoneFlipX,
    Rotate270FlipY = Rotate90FlipX,
    RotateNoneFlipXY = Rotate180FlipNone,
    Rotate90FlipXY = Rotate270FlipNone,
    Rotate180FlipXY = RotateNoneFlipNone,
    Rotate270FlipXY = Rotate90FlipNone,
};

enum ImageLockMode : uint32_t {
    ImageLockModeRead = 0x1,
    ImageLockModeWrite = 0x2,
    ImageLockModeUserInputBuf = 0x4,
};

enum DitherType : int {
    DitherTypeNone = 0,
    DitherTypeSolid = 1,
    DitherTypeOrdered4x4 = 2,
    DitherTypeOrdered8x8 = 3,
    DitherTypeOrdered16x16 = 4,
    DitherTypeSpiral4x4 = 5,
    DitherTypeSpiral8x8 = 6,
    DitherTypeDualSpiral4x4 = 7,
    DitherTypeDualSpiral8x8 = 8,
    DitherTypeErrorDiffusion = 9,
    DitherTypeMax = 10,
};

enum PaletteType : int {
    PaletteTypeCustom = 0,
    PaletteTypeOptimal = 1,
    PaletteTypeFixedBW = 2,
    PaletteTypeFixedHalftone8 = 3,
    PaletteTypeFixedHalftone27 = 4,
    PaletteTypeFixedHalftone64 = 5,
    PaletteTypeFixedHalftone125 = 6,
    PaletteTypeFixedHalftone216 = 7,
    PaletteTypeFixedHalftone252 = 8,
    PaletteTypeFixedHalftone256 = 9,
};

enum PaletteFlags : uint32_t {
    PaletteFlagsHasAlpha = 0x1,
    PaletteFlagsGrayScale = 0x2,
    PaletteFlagsHalftone = 0x4,
};

// ---- GUIDs ---------------------------------------------------------------------------------------

inline constexpr Guid FrameDimensionTime =
    MakeGuid(0x6aedbd6d, 0x3fb5, 0x418a, 0x83, 0xa6, 0x7f, 0x45, 0x22, 0x9d, 0xc8, 0x72);
inline constexpr Guid FrameDimensionResolution =
    MakeGuid(0x84236f7b, 0x3bd3, 0x428f, 0x8d, 0xab, 0x4e, 0xa1, 0x43, 0x9c, 0xa3, 0x15);
inline constexpr Guid FrameDimensionPage =
    MakeGuid(0x7462dc86, 0x6180, 0x4c7e, 0x8e, 0x3f, 0xee, 0x73, 0x33, 0xa7, 0xa4, 0x83);

constexpr Guid RawFormatGuid(uint32_t d1) {
    return MakeGuid(d1, 0x0728, 0x11d3, 0x9d, 0x7b, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e);
}
inline constexpr Guid ImageFormatUndefined = RawFormatGuid(0xb96b3ca9);
inline constexpr Guid ImageFormatMemoryBMP = RawFormatGuid(0xb96b3caa);
inline constexpr Guid ImageFormatBMP = RawFormatGuid(0xb96b3cab);
inline constexpr Guid ImageFormatEMF = RawFormatGuid(0xb96b3cac);
inline constexpr Guid ImageFormatWMF = RawFormatGuid(0xb96b3cad);
inline constexpr Guid ImageFormatJPEG = RawFormatGuid(0xb96b3cae);
inline constexpr Guid ImageFormatPNG = RawFormatGuid(0xb96b3caf);
inline constexpr Guid ImageFormatGIF = RawFormatGuid(0xb96b3cb0);
inline constexpr Guid ImageFormatTIFF = RawFormatGuid(0xb96b3cb1);
inline constexpr Guid ImageFormatEXIF = RawFormatGuid(0xb96b3cb2);
inline constexpr Guid ImageFormatIcon = RawFormatGuid(0xb96b3cb5);
/// The raw-format name of the properties report ("Memory", "JPEG", ...; "Unknown" for anything else).
const char* RawFormatName(const Guid& g);

/// Codec class ids: {557CF40x-1A04-11D3-9A73-0000F81EF32E}, x = 0 BMP, 1 JPEG, 2 GIF, 3 EMF, 4 WMF,
/// 5 TIFF, 6 PNG, 7 ICO.
constexpr Guid CodecClsid(uint32_t d1) {
    return MakeGuid(d1, 0x1a04, 0x11d3, 0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e);
}
inline constexpr Guid ClsidBmpCodec = CodecClsid(0x557cf400);
inline constexpr Guid ClsidJpegCodec = CodecClsid(0x557cf401);
inline constexpr Guid ClsidGifCodec = CodecClsid(0x557cf402);
inline constexpr Guid ClsidEmfCodec = CodecClsid(0x557cf403);
inline constexpr Guid ClsidWmfCodec = CodecClsid(0x557cf404);
inline constexpr Guid ClsidTiffCodec = CodecClsid(0x557cf405);
inline constexpr Guid ClsidPngCodec = CodecClsid(0x557cf406);
inline constexpr Guid ClsidIcoCodec = CodecClsid(0x557cf407);

// Encoder parameter categories.
inline constexpr Guid EncoderCompression =
    MakeGuid(0xe09d739d, 0xccd4, 0x44ee, 0x8e, 0xba, 0x3f, 0xbf, 0x8b, 0xe4, 0xfc, 0x58);
inline constexpr Guid EncoderColorDepth =
    MakeGuid(0x66087055, 0xad66, 0x4c7c, 0x9a, 0x18, 0x38, 0xa2, 0x31, 0x0b, 0x83, 0x37);
inline constexpr Guid EncoderQuality =
    MakeGuid(0x1d5be4b5, 0xfa4a, 0x452d, 0x9c, 0xdd, 0x5d, 0xb3, 0x51, 0x05, 0xe7, 0xeb);
inline constexpr Guid EncoderSaveFlag =
    MakeGuid(0x292266fc, 0xac40, 0x47bf, 0x8c, 0xfc, 0xa8, 0x5b, 0x89, 0xa6, 0x55, 0xde);

enum EncoderParameterValueType : uint32_t {
    EncoderParameterValueTypeByte = 1,
    EncoderParameterValueTypeASCII = 2,
    EncoderParameterValueTypeShort = 3,
    EncoderParameterValueTypeLong = 4,
    EncoderParameterValueTypeRational = 5,
    EncoderParameterValueTypeLongRange = 6,
    EncoderParameterValueTypeUndefined = 7,
    EncoderParameterValueTypeRationalRange = 8,
};

enum EncoderValue : uint32_t {
    EncoderValueColorTypeCMYK = 0,
    EncoderValueColorTypeYCCK = 1,
    EncoderValueCompressionLZW = 2,
    EncoderValueCompressionCCITT3 = 3,
    EncoderValueCompressionCCITT4 = 4,
    EncoderValueCompressionRle = 5,
    EncoderValueCompressionNone = 6,
    EncoderValueScanMethodInterlaced = 7,
    EncoderValueScanMethodNonInterlaced = 8,
    EncoderValueVersionGif87 = 9,
    EncoderValueVersionGif89 = 10,
    EncoderValueRenderProgressive = 11,
    EncoderValueRenderNonProgressive = 12,
    EncoderValueTransformRotate90 = 13,
    EncoderValueTransformRotate180 = 14,
    EncoderValueTransformRotate270 = 15,
    EncoderValueTransformFlipHorizontal = 16,
    EncoderValueTransformFlipVertical = 17,
    EncoderValueMultiFrame = 18,
    EncoderValueLastFrame = 19,
    EncoderValueFlush = 20,
    EncoderValueFrameDimensionTime = 21,
    EncoderValueFrameDimensionResolution = 22,
    EncoderValueFrameDimensionPage = 23,
};

// ---- property items --------------------------------------------------------------------------------

enum PropertyTagType : uint16_t {
    PropertyTagTypeByte = 1,
    PropertyTagTypeASCII = 2,
    PropertyTagTypeShort = 3,
    PropertyTagTypeLong = 4,
    PropertyTagTypeRational = 5,
    PropertyTagTypeUndefined = 7,
    PropertyTagTypeSLONG = 9,
    PropertyTagTypeSRational = 10,
};

// The tags the layer itself produces or reads; the full EXIF set lives in Exif.h.
constexpr PROPID PropertyTagOrientation = 0x0112;
constexpr PROPID PropertyTagSoftwareUsed = 0x0131;
constexpr PROPID PropertyTagThreshHolding = 0x0107;
constexpr PROPID PropertyTagICCProfile = 0x8773;
constexpr PROPID PropertyTagGamma = 0x0301;
constexpr PROPID PropertyTagSRGBRenderingIntent = 0x0303;
constexpr PROPID PropertyTagPrimaryChromaticities = 0x013F;
constexpr PROPID PropertyTagWhitePoint = 0x013E;
constexpr PROPID PropertyTagFrameDelay = 0x5100;
constexpr PROPID PropertyTagLoopCount = 0x5101;
constexpr PROPID PropertyTagIndexBackground = 0x5103;
constexpr PROPID PropertyTagIndexTransparent = 0x5104;
constexpr PROPID PropertyTagJPEGQuality = 0x5010;
constexpr PROPID PropertyTagLuminanceTable = 0x5090;
constexpr PROPID PropertyTagChrominanceTable = 0x5091;
constexpr PROPID PropertyTagPixelUnit = 0x5110;
constexpr PROPID PropertyTagPixelPerUnitX = 0x5111;
constexpr PROPID PropertyTagPixelPerUnitY = 0x5112;
constexpr PROPID PropertyTagExifIFD = 0x8769;
constexpr PROPID PropertyTagGpsIFD = 0x8825;

} // namespace imaging
