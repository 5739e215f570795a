#include "properties/QImageProperties.h"

#include "imaging/Bytes.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <vector>

namespace zerimo {

using imaging::PROPID;

namespace {

// Searched in row order; the odd blanks inside some names are part of the names.
constexpr PropertyTagRow kTagNames[] = {
    {0x8769, "Exif IFD"},
    {0x8825, "Gps IFD"},
    {0x00FE, "New Subfile Type"},
    {0x00FF, "Subfile Type"},
    {0x0100, "Image Width"},
    {0x0101, "Image Height"},
    {0x0102, "Bits per Sample"},
    {0x0103, "Compression"},
    {0x0106, "Photometric Interpretation"},
    {0x0107, "Threshholding"},
    {0x0108, "Cell Width"},
    {0x0109, "Cell Height"},
    {0x010A, "Fill Order"},
    {0x010D, "Document Name"},
    {0x010E, "Image Description"},
    {0x010F, "Equip Make"},
    {0x0110, "Equip Model"},
    {0x0111, "Strip Offsets"},
    {0x0112, "Orientation"},
    {0x0115, "Samples per Pixel"},
    {0x0116, "Rows per Strip"},
    {0x0117, "StripBytesCount"},
    {0x0118, "Min Sample Value"},
    {0x0119, "Max Sample Value"},
    {0x011A, "XResolution"},
    {0x011B, "YResolution"},
    {0x011C, "Planar Config"},
    {0x011D, "Page Name"},
    {0x011E, "XPosition"},
    {0x011F, "YPosition"},
    {0x0120, "Free Offset"},
    {0x0121, "Free Byte Counts"},
    {0x0122, "Gray Response Unit"},
    {0x0123, "Gray Response Curve"},
    {0x0124, "T4 Option"},
    {0x0125, "T6 Option"},
    {0x0128, "Resolution Unit"},
    {0x0129, "Page Number"},
    {0x012D, "Transfer Function"},
    {0x0131, "Software Used"},
    {0x0132, "Date/Time"},
    {0x013B, "Artist"},
    {0x013C, "Host Computer"},
    {0x013D, "Predictor"},
    {0x013E, "White Point"},
    {0x013F, "Primary Chromaticities"},
    {0x0140, "Color Map"},
    {0x0141, "Halftone Hints"},
    {0x0142, "Tile Width"},
    {0x0143, "Tile Length"},
    {0x0144, "Tile Offset"},
    {0x0145, "Tile Byte Counts"},
    {0x014C, "Ink Set"},
    {0x014D, "Ink Names"},
    {0x014E, "Number of Inks"},
    {0x0150, "Dot Range"},
    {0x0151, "Target Printer"},
    {0x0152, "Extra Samples"},
    {0x0153, "Sample Format"},
    {0x0154, "SMin Sample Value"},
    {0x0155, "SMax Sample Value"},
    {0x0156, "Transfer Range"},
    {0x0200, "JPEG Proc"},
    {0x0201, "JPEG InterFormat"},
    {0x0202, "JPEG InterLength"},
    {0x0203, "JPEG Restart Interval"},
    {0x0205, "JPEG Lossless Predictors"},
    {0x0206, "JPEG Point Transforms"},
    {0x0207, "JPEG QTables"},
    {0x0208, "JPEG DCTables"},
    {0x0209, "JPEG ACTables"},
    {0x0211, "YCbCr Coefficients"},
    {0x0212, "YCbCr Subsampling"},
    {0x0213, "YCbCr Positioning"},
    {0x0214, "REF Black/White"},
    {0x8773, "ICC Profile"},
    {0x0301, "Gamma"},
    {0x0302, "ICC Profile Descriptor"},
    {0x0303, "sRGB Rendering Intent"},
    {0x0320, "Image Title"},
    {0x8298, "Copyright"},
    {0x5001, "Resolution X Unit"},
    {0x5002, "Resolution Y Unit"},
    {0x5003, "Resolution X Length Unit"},
    {0x5004, "Resolution Y Length Unit"},
    {0x5005, "PrintFlags"},
    {0x5006, "PrintFlags Version"},
    {0x5007, "PrintFlags Crop"},
    {0x5008, "PrintFlags BleedWidth"},
    {0x5009, "PrintFlags BleedWidth Scale"},
    {0x500A, "Halftone LPI"},
    {0x500B, "Halftone LPI Unit"},
    {0x500C, "Halftone Degree"},
    {0x500D, "Halftone Shape"},
    {0x500E, "Halftone Misc"},
    {0x500F, "Halftone Screen"},
    {0x5010, "JPEG Quality"},
    {0x5011, "GridSize"},
    {0x5012, "Thumbnail Format"},
    {0x5013, "Thumbnail Width"},
    {0x5014, "Thumbnail Height"},
    {0x5015, "Thumbnail Color Depth"},
    {0x5016, "Thumbnail Planes"},
    {0x5017, "Thumbnail Raw Bytes"},
    {0x5018, "Thumbnail Size"},
    {0x5019, "Thumbnail Compressed Size"},
    {0x501A, "Color Transfer Function"},
    {0x501B, "Thumbnail Data"},
    {0x5020, "Thumbnail Image Width"},
    {0x5021, "Thumbnail Image Height"},
    {0x5022, "Thumbnail Bits per     Sample"},
    {0x5023, "Thumbnail Compression"},
    {0x5024, "Thumbnail Photometric Interp"},
    {0x5025, "Thumbnail Image Description"},
    {0x5026, "Thumbnail Equip Make"},
    {0x5027, "Thumbnail Equip Model"},
    {0x5028, "Thumbnail Strip Offsets"},
    {0x5029, "Thumbnail Orientation"},
    {0x502A, "Thumbnail Samples per Pixel"},
    {0x502B, "Thumbnail Rows per     Strip"},
    {0x502C, "Thumbnail Strip Bytes Count"},
    {0x502D, "Thumbnail Resolution X"},
    {0x502E, "Thumbnail Resolution Y"},
    {0x502F, "Thumbnail Planar Config"},
    {0x5030, "Thumbnail Resolution Unit"},
    {0x5031, "Thumbnail Transfer Function"},
    {0x5032, "Thumbnail Software Used"},
    {0x5033, "Thumbnail Date/Time"},
    {0x5034, "Thumbnail Artist"},
    {0x5035, "Thumbnail White Point"},
    {0x5036, "Thumbnail Primary Chromaticities"},
    {0x5037, "Thumbnail YCbCr Coefficients"},
    {0x5038, "Thumbnail YCbCr Subsampling"},
    {0x5039, "Thumbnail YCbCr Positioning"},
    {0x503A, "Thumbnail Ref Black/White"},
    {0x503B, "Thumbnail CopyRight"},
    {0x5090, "Luminance Table"},
    {0x5091, "Chrominance Table"},
    {0x5100, "Frame Delay"},
    {0x5101, "Loop Count"},
    {0x5110, "Pixel Unit"},
    {0x5111, "Pixel per Unit X"},
    {0x5112, "Pixel per Unit Y"},
    {0x5113, "Palette Histogram"},
    {0x829A, "Exposure Time"},
    {0x829D, "F Number"},
    {0x8822, "Exposure Prog"},
    {0x8824, "Spectral Sense"},
    {0x8827, "ISO Speed"},
    {0x8828, "OECF"},
    {0x9000, "Exif Ver"},
    {0x9003, "DT Orig"},
    {0x9004, "DT Digitized"},
    {0x9101, "Comp Config"},
    {0x9102, "Comp BPP"},
    {0x9201, "Shutter Speed"},
    {0x9202, "Aperture"},
    {0x9203, "Brightness"},
    {0x9204, "Exposure Bias"},
    {0x9205, "Max Aperture"},
    {0x9206, "Subject Dist"},
    {0x9207, "Metering Mode"},
    {0x9208, "Light Source"},
    {0x9209, "Flash"},
    {0x920A, "Focal Length"},
    {0x927C, "Maker Note"},
    {0x9286, "User Comment"},
    {0x9290, "DT Subsec"},
    {0x9291, "DT Orig SS"},
    {0x9292, "DT Dig SS"},
    {0xA000, "FPX Ver"},
    {0xA001, "Color Space"},
    {0xA002, "Pix X Dim"},
    {0xA003, "Pix Y Dim"},
    {0xA004, "Related Wav"},
    {0xA005, "Interop"},
    {0xA20B, "Flash  Energy"},
    {0xA20C, "Spatial FR"},
    {0xA20E, "Focal X Res"},
    {0xA20F, "Focal Y Res"},
    {0xA210, "Focal Res Unit"},
    {0xA214, "Subject Loc"},
    {0xA215, "Exposure Index"},
    {0xA217, "Sensing Method"},
    {0xA300, "File Source"},
    {0xA301, "Scene Type"},
    {0xA302, "Cfa Pattern"},
    {0x0000, "Gps Ver"},
    {0x0001, "Gps Latitude Ref"},
    {0x0002, "Gps Latitude"},
    {0x0003, "Gps Longitude Ref"},
    {0x0004, "Gps Longitude"},
    {0x0005, "Gps Altitude Ref"},
    {0x0006, "Gps Altitude"},
    {0x0007, "Gps Time"},
    {0x0008, "Gps Satellites"},
    {0x0009, "Gps Status"},
    {0x000A, "Gps Measure Mode"},
    {0x000B, "Gps Dop"},
    {0x000C, "Gps Speed Ref"},
    {0x000D, "Gps Speed"},
    {0x000E, "Gps Track Ref"},
    {0x000F, "Gps Track"},
    {0x0010, "Gps Img Dir Ref"},
    {0x0011, "Gps Img Dir"},
    {0x0012, "Gps Map Datum"},
    {0x0013, "Gps Dest Lat Ref"},
    {0x0014, "Gps Dest Lat"},
    {0x0015, "Gps Dest Long Ref"},
    {0x0016, "Gps Dest Long"},
    {0x0017, "Gps Dest Bear Ref"},
    {0x0018, "Gps Dest Bear"},
    {0x0019, "Gps Dest Dist Ref"},
    {0x001A, "Gps Dest Dist"},
    {0x9214, "Subject Area"},
    {0x9220, "SubSec Time"},
    {0x9221, "SubSec Time Original"},
    {0xA401, "Custom Rendered"},
    {0xA402, "Exposure Mode"},
    {0xA403, "White Balance"},
    {0xA404, "Digital Zoom Ratio"},
    {0xA405, "Focal Length in 35mm"},
    {0xA406, "Scene Capture Type"},
    {0xA407, "Gain Control"},
    {0xA408, "Contrast"},
    {0xA409, "Saturation"},
    {0xA40A, "Sharpness"},
    {0xA40B, "Device Setting Description"},
    {0xA40C, "Subject Distance Range"},
    {0xA420, "Image Unique ID"},
};

// ---- formatting helpers --------------------------------------------------------------------------

/// Appends printf-style text with C semantics ("%#04x" of 65535 is "0xffff").
[[gnu::format(printf, 2, 3)]] void AppendF(std::string& out, const char* format, ...) {
    char small[128];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (n < 0) {
        va_end(again);
        return;
    }
    if (size_t(n) < sizeof small) {
        out.append(small, size_t(n));
    } else {
        std::vector<char> big(size_t(n) + 1);
        std::vsnprintf(big.data(), big.size(), format, again);
        out.append(big.data(), size_t(n));
    }
    va_end(again);
}

/// Length of the well-formed UTF-8 sequence at p (at most `left` bytes), 0 when there is none.
size_t Utf8SequenceLength(const uint8_t* p, size_t left) {
    const uint8_t b = p[0];
    if (b < 0x80) return 1;
    size_t len;
    uint32_t cp;
    if (b >= 0xC2 && b <= 0xDF) {
        len = 2;
        cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        len = 3;
        cp = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4;
        cp = b & 0x07;
    } else {
        return 0;
    }
    if (len > left) return 0;
    for (size_t i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return 0;
    if (cp >= 0xD800 && cp <= 0xDFFF) return 0;
    return len;
}

/// Metadata text has no declared encoding: bytes that already form UTF-8 are kept, every other byte
/// is read as Latin-1 (older cameras and editors write their local 8-bit code page there).
void AppendMetadataText(std::string& out, const uint8_t* p, size_t n) {
    size_t i = 0;
    while (i < n) {
        const size_t len = Utf8SequenceLength(p + i, n - i);
        if (len) {
            out.append(reinterpret_cast<const char*>(p + i), len);
            i += len;
        } else {
            out.push_back(char(0xC0 | (p[i] >> 6)));
            out.push_back(char(0x80 | (p[i] & 0x3F)));
            ++i;
        }
    }
}

// ---- enumerated values ---------------------------------------------------------------------------

const char* const kResolutionUnits[] = {"None specified", "Inch", "Centimeter"};
const char* const kCompressions[] = {"TIFF",        "Unknown (2)", "Uncompressed",
                                     "Unknown (4)", "Unknown (5)", "Jpeg"};
const char* const kPhotometrics[] = {"Monochrome",  "RGB",         "Unknown (3)",
                                     "Unknown (4)", "Unknown (5)", "YCbCr"};
const char* const kOrientations[] = {"Normal",      "Unknown (2)", "180",         "Unknown (4)",
                                     "Unknown (5)", "Ccw 90",      "Unknown (7)", "Cw     90"};
const char* const kExposurePrograms[] = {"Manual",   "Normal", "Aperture priority", "Shutter priority",
                                         "Creative", "Action", "Portrait",          "Landscape"};
const char* const kMeteringModes[] = {"Average",    "Center weighted", "Spot",
                                      "Multi Spot", "Pattern",         "Partial"};
const char* const kLightSources[] = {"Daylight",
                                     "Fluorescent",
                                     "Tungsten",
                                     "Flash",
                                     "Unknown (5)",
                                     "Unknown (6)",
                                     "Unknown (7)",
                                     "Unknown (8)",
                                     "Fine weather",
                                     "Cloudy weather",
                                     "Shade",
                                     "Daylight fluorescent",
                                     "Day white fluorescent",
                                     "Cool white fluorescent",
                                     "White fluorescent",
                                     "Unknown (16)",
                                     "Standard light A",
                                     "Standard light B",
                                     "Standard light C",
                                     "D55",
                                     "D65",
                                     "D75",
                                     "D50",
                                     "ISO studio tungsten"};

struct EnumTable {
    const char* const* names;
    uint32_t count;
};

template <size_t N> constexpr EnumTable Table(const char* const (&names)[N]) {
    return EnumTable{names, uint32_t(N)};
}

/// The value names of the enumerated tags; null for every other tag.
const EnumTable* EnumeratedValues(PROPID id) {
    static const EnumTable units = Table(kResolutionUnits), compressions = Table(kCompressions),
                           photometrics = Table(kPhotometrics), orientations = Table(kOrientations),
                           programs = Table(kExposurePrograms), metering = Table(kMeteringModes),
                           lights = Table(kLightSources);
    switch (id) {
    case 0x0128: // Resolution Unit
    case 0x5030: // Thumbnail Resolution Unit
    case 0xA210: // Focal Res Unit
        return &units;
    case 0x0103: // Compression
    case 0x5023: // Thumbnail Compression
        return &compressions;
    case 0x0106:
        return &photometrics;
    case 0x0112:
        return &orientations;
    case 0x8822:
        return &programs;
    case 0x9207:
        return &metering;
    case 0x9208:
        return &lights;
    default:
        return nullptr;
    }
}

// ---- value types ---------------------------------------------------------------------------------

/// Bytes of one value; types without a defined size count as single bytes.
uint32_t ValueSize(uint16_t type) {
    switch (type) {
    case imaging::PropertyTagTypeShort:
        return 2;
    case imaging::PropertyTagTypeLong:
    case imaging::PropertyTagTypeSLONG:
        return 4;
    case imaging::PropertyTagTypeRational:
    case imaging::PropertyTagTypeSRational:
        return 8;
    default:
        return 1;
    }
}

const char* CountWord(uint16_t type) {
    static const char* const words[] = {"",      "bytes",        "characters",      "shorts",
                                        "longs", "rationals",    "bytes",           "bytes",
                                        "",      "signed longs", "signed rationals"};
    return words[type];
}

/// Appends the value of an item that is neither enumerated nor text. `value` holds `length` bytes.
void AppendValue(std::string& out, uint16_t type, const uint8_t* value, uint32_t length) {
    // Codes above the defined range are shown as opaque bytes.
    if (type > imaging::PropertyTagTypeSRational) type = imaging::PropertyTagTypeUndefined;
    const uint32_t count = length / ValueSize(type);

    if (count == 1) {
        switch (type) {
        case imaging::PropertyTagTypeShort: {
            const unsigned v = imaging::ReadLE16(value);
            AppendF(out, "%u (= %#04x)", v, v);
            return;
        }
        case imaging::PropertyTagTypeLong: {
            const unsigned v = imaging::ReadLE32(value);
            AppendF(out, "%u (= %#08x)", v, v);
            return;
        }
        case imaging::PropertyTagTypeSLONG: {
            const uint32_t v = imaging::ReadLE32(value);
            AppendF(out, "%d (= %#08x)", int32_t(v), unsigned(v));
            return;
        }
        case imaging::PropertyTagTypeRational: {
            const uint32_t n = imaging::ReadLE32(value), d = imaging::ReadLE32(value + 4);
            if (d == 0) return;
            AppendF(out, "%s (%u/%u)", FormatDecimal(double(n) / double(d)).c_str(), unsigned(n),
                    unsigned(d));
            return;
        }
        case imaging::PropertyTagTypeSRational: {
            const int32_t n = int32_t(imaging::ReadLE32(value)), d = int32_t(imaging::ReadLE32(value + 4));
            if (d == 0) return;
            AppendF(out, "%s (%d/%d)", FormatDecimal(double(n) / double(d)).c_str(), int(n), int(d));
            return;
        }
        default:
            AppendF(out, "%u (= %#02x)", unsigned(value[0]), unsigned(value[0]));
            return;
        }
    }

    const bool bytes = type == imaging::PropertyTagTypeByte || type == imaging::PropertyTagTypeUndefined;
    if (bytes && length <= 4) {
        bool printable = true;
        for (uint32_t i = 0; i < length; ++i) printable = printable && value[i] >= 0x20;
        if (printable) {
            AppendMetadataText(out, value, length);
        } else {
            for (uint32_t i = 0; i < length; ++i) AppendF(out, "%#02x ", unsigned(value[i]));
        }
        return;
    }
    AppendF(out, "(%u %s)", unsigned(count), CountWord(type));
}

/// Local time as "yyyy:mm:dd hh:mm:ss".
std::string FormatLocalTime(int64_t seconds) {
    const time_t t = time_t(seconds);
    struct tm local;
    if (!localtime_r(&t, &local)) return std::string();
    std::string out;
    AppendF(out, "%04d:%02d:%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
            local.tm_hour, local.tm_min, local.tm_sec);
    return out;
}

} // namespace

// ---- free functions ------------------------------------------------------------------------------

std::string FormatDecimal(double value) {
    std::string text;
    AppendF(text, "%f", value);
    const size_t last = text.find_last_not_of('0');
    text.erase(last == std::string::npos ? 0 : last + 1);
    if (!text.empty() && text.back() == '.') text.push_back('0');
    return text;
}

std::span<const PropertyTagRow> PropertyTagRows() {
    return kTagNames;
}

std::string PropertyTagName(PROPID id) {
    for (const PropertyTagRow& row : kTagNames)
        if (row.id == id) return row.name;
    std::string out;
    AppendF(out, "Unknown Property (%#04x)", unsigned(id));
    return out;
}

std::string DescribeFile(const std::string& path) {
    if (path.empty()) return std::string();
    std::string out = "File: " + path + "\r\n";

    int64_t created = 0, accessed = 0, written = 0;
    uint64_t size = 0;
    struct statx sx;
    if (statx(AT_FDCWD, path.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &sx) == 0) {
        // Not every filesystem records a birth time; the status-change time is the closest it keeps.
        created = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime.tv_sec : sx.stx_ctime.tv_sec;
        accessed = sx.stx_atime.tv_sec;
        written = sx.stx_mtime.tv_sec;
        size = sx.stx_size;
    } else if (errno == ENOSYS) {
        // Kernels (or sandboxes) without statx: plain stat has no birth time at all.
        struct stat st;
        if (stat(path.c_str(), &st) != 0) return out;
        created = st.st_ctime;
        accessed = st.st_atime;
        written = st.st_mtime;
        size = uint64_t(st.st_size);
    } else {
        return out;
    }

    out += "Created: " + FormatLocalTime(created) + "\r\n";
    out += "Accessed: " + FormatLocalTime(accessed) + "\r\n";
    out += "Last Written: " + FormatLocalTime(written) + "\r\n";
    AppendF(out, "File Size: %llu bytes\r\n", static_cast<unsigned long long>(size));
    return out;
}

// ---- QImageProperties ----------------------------------------------------------------------------

std::string QImageProperties::DescribeImage(const PROPID* exclude) const {
    static const struct {
        uint32_t flag;
        const char* name;
    } kFlagNames[] = {{imaging::ImageFlagsScalable, "Scalable"},
                      {imaging::ImageFlagsHasAlpha, "Has Alpha"},
                      {imaging::ImageFlagsHasTranslucent, "Has Translucent"},
                      {imaging::ImageFlagsPartiallyScalable, "Partially Scalable"},
                      {imaging::ImageFlagsColorSpaceRGB, "ColorSpace RGB"},
                      {imaging::ImageFlagsColorSpaceCMYK, "ColorSpace CMYK"},
                      {imaging::ImageFlagsColorSpaceGRAY, "ColorSpace GRAY"},
                      {imaging::ImageFlagsColorSpaceYCBCR, "ColorSpace YCBCR"},
                      {imaging::ImageFlagsColorSpaceYCCK, "ColorSpace YCCK"},
                      {imaging::ImageFlagsHasRealDPI, "Has Real DPI"},
                      {imaging::ImageFlagsHasRealPixelSize, "Has Real Pixel Size"},
                      {imaging::ImageFlagsReadOnly, "ReadOnly"},
                      {imaging::ImageFlagsCaching, "Caching"}};
    static const char* const kTimes = " \xC3\x97 "; // blank, U+00D7 MULTIPLICATION SIGN, blank

    // Every value starts at 0, so a missing image or a failing query shows 0.
    imaging::Guid rawFormat;
    bool haveRawFormat = false;
    imaging::PixelFormat pixelFormat = imaging::PixelFormatUndefined;
    uint32_t width = 0, height = 0, flags = 0, propertyCount = 0;
    imaging::SizeF dimension;
    float dpiX = 0, dpiY = 0;
    if (image_) {
        haveRawFormat = image_->GetRawFormat(&rawFormat) == imaging::Ok;
        pixelFormat = image_->GetPixelFormat();
        width = image_->GetWidth();
        height = image_->GetHeight();
        if (image_->GetPhysicalDimension(&dimension) != imaging::Ok) dimension = imaging::SizeF{};
        dpiX = image_->GetHorizontalResolution();
        dpiY = image_->GetVerticalResolution();
        flags = image_->GetFlags();
        propertyCount = image_->GetPropertyCount();
    }

    std::string out = "Format: ";
    if (haveRawFormat) out += imaging::RawFormatName(rawFormat);
    out += "\r\n";
    out += "PixelFormat: ";
    out += imaging::PixelFormatName(pixelFormat);
    out += "\r\n";
    AppendF(out, "Pixels: %d%s%d\r\n", int(width), kTimes, int(height));
    out += "Physical Dimension: " + FormatDecimal(dimension.Width) + kTimes +
           FormatDecimal(dimension.Height) + "\r\n";
    out += "Resolution: " + FormatDecimal(dpiX) + kTimes + FormatDecimal(dpiY) + "\r\n";
    out += flags == 0 ? "Flags: None\r\n" : "Flags: \r\n";
    for (const auto& f : kFlagNames)
        if (flags & f.flag) out += std::string("\t") + f.name + "\r\n";

    if (propertyCount == 0) return out;
    std::vector<PROPID> ids(propertyCount);
    if (image_->GetPropertyIdList(propertyCount, ids.data()) != imaging::Ok) return out;
    for (PROPID id : ids) {
        bool excluded = false;
        for (const PROPID* e = exclude; e && *e; ++e) excluded = excluded || *e == id;
        if (!excluded) out += DescribeProperty(id) + "\r\n";
    }
    return out;
}

std::string QImageProperties::DescribeProperty(PROPID id) const {
    std::string out = PropertyTagName(id) + ": ";
    if (!image_) return out;
    const uint32_t size = image_->GetPropertyItemSize(id);
    if (size < sizeof(imaging::PropertyItem)) return out;

    // The record is followed by its value in the same block; exactly `size` bytes, so a value read
    // past its length would leave the block.
    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[size]());
    if (!block) return out;
    auto* item = reinterpret_cast<imaging::PropertyItem*>(block.get());
    if (image_->GetPropertyItem(id, size, item) != imaging::Ok) return out;

    // Only the bytes inside the block are read, whatever length the record claims.
    const uintptr_t begin = reinterpret_cast<uintptr_t>(block.get()), end = begin + size;
    const uint8_t* value = static_cast<const uint8_t*>(item->value);
    const uintptr_t at = reinterpret_cast<uintptr_t>(value);
    uint32_t length = item->length;
    if (!value || at < begin || at > end)
        length = 0;
    else if (length > end - at)
        length = uint32_t(end - at);

    if (const EnumTable* names = EnumeratedValues(id)) {
        const uint32_t v = length ? value[0] : 0; // the first byte: the low byte of a SHORT
        if (v >= 1 && v <= names->count) out += names->names[v - 1];
        return out;
    }
    if (item->type == imaging::PropertyTagTypeASCII) {
        const void* nul = length ? std::memchr(value, 0, length) : nullptr;
        const size_t n = nul ? size_t(static_cast<const uint8_t*>(nul) - value) : length;
        AppendMetadataText(out, value, n);
        return out;
    }
    AppendValue(out, item->type, value, length);
    return out;
}

} // namespace zerimo
