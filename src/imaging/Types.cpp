#include "imaging/Types.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace imaging {

const char* StatusName(Status s) {
    static const char* const names[] = {"Ok",
                                        "GenericError",
                                        "InvalidParameter",
                                        "OutOfMemory",
                                        "ObjectBusy",
                                        "InsufficientBuffer",
                                        "NotImplemented",
                                        "Win32Error",
                                        "WrongState",
                                        "Aborted",
                                        "FileNotFound",
                                        "ValueOverflow",
                                        "AccessDenied",
                                        "UnknownImageFormat",
                                        "FontFamilyNotFound",
                                        "FontStyleNotFound",
                                        "NotTrueTypeFont",
                                        "UnsupportedGdiplusVersion",
                                        "GdiplusNotInitialized",
                                        "PropertyNotFound",
                                        "PropertyNotSupported"};
    return (s >= 0 && s <= PropertyNotSupported) ? names[s] : "UnknownStatus";
}

bool operator==(const Guid& a, const Guid& b) {
    return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3 &&
           std::memcmp(a.data4, b.data4, 8) == 0;
}

bool operator<(const Guid& a, const Guid& b) {
    if (a.data1 != b.data1) return a.data1 < b.data1;
    if (a.data2 != b.data2) return a.data2 < b.data2;
    if (a.data3 != b.data3) return a.data3 < b.data3;
    return std::memcmp(a.data4, b.data4, 8) < 0;
}

std::string Guid::ToString() const {
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}", data1, data2, data3,
                  data4[0], data4[1], data4[2], data4[3], data4[4], data4[5], data4[6], data4[7]);
    return buf;
}

bool Guid::Parse(const std::string& text, Guid& out) {
    std::string t = text;
    if (t.size() == 38 && t.front() == '{' && t.back() == '}') t = t.substr(1, 36);
    if (t.size() != 36 || t[8] != '-' || t[13] != '-' || t[18] != '-' || t[23] != '-') return false;
    uint8_t bytes[16];
    int n = 0;
    for (size_t i = 0; i < t.size();) {
        if (t[i] == '-') {
            ++i;
            continue;
        }
        if (i + 1 >= t.size() || !std::isxdigit(uint8_t(t[i])) || !std::isxdigit(uint8_t(t[i + 1])))
            return false;
        auto hex = [](char c) {
            return std::isdigit(uint8_t(c)) ? c - '0' : (std::tolower(uint8_t(c)) - 'a' + 10);
        };
        bytes[n++] = uint8_t(hex(t[i]) * 16 + hex(t[i + 1]));
        i += 2;
    }
    if (n != 16) return false;
    out.data1 =
        (uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) | (uint32_t(bytes[2]) << 8) | bytes[3];
    out.data2 = uint16_t((bytes[4] << 8) | bytes[5]);
    out.data3 = uint16_t((bytes[6] << 8) | bytes[7]);
    std::memcpy(out.data4, bytes + 8, 8);
    return true;
}

bool IsValidPixelFormat(PixelFormat f) {
    switch (f) {
    case PixelFormat1bppIndexed:
    case PixelFormat4bppIndexed:
    case PixelFormat8bppIndexed:
    case PixelFormat16bppGrayScale:
    case PixelFormat16bppRGB555:
    case PixelFormat16bppRGB565:
    case PixelFormat16bppARGB1555:
    case PixelFormat24bppRGB:
    case PixelFormat32bppRGB:
    case PixelFormat32bppARGB:
    case PixelFormat32bppPARGB:
    case PixelFormat48bppRGB:
    case PixelFormat64bppARGB:
    case PixelFormat64bppPARGB:
    case PixelFormat32bppCMYK:
        return true;
    default:
        return false;
    }
}

const char* PixelFormatName(PixelFormat f) {
    static const char* const names[] = {
        "Unknown",       "1 bpp Indexed", "4 bpp Indexed",   "8 bpp Indexed", "16 bpp GrayScale",
        "16 bpp RGB555", "16 bpp RGB565", "16 bpp ARGB1555", "24 bpp RGB",    "32 bpp RGB",
        "32 bpp ARGB",   "32 bpp PARGB",  "48 bpp RGB",      "64 bpp ARGB",   "64 bpp PARGB"};
    uint32_t i = f & 0xF;
    return i == 15 ? names[0] : names[i];
}

const char* RawFormatName(const Guid& g) {
    static const struct {
        Guid id;
        const char* name;
    } table[] = {{ImageFormatUndefined, "Undefined"},
                 {ImageFormatMemoryBMP, "Memory"},
                 {ImageFormatBMP, "BMP"},
                 {ImageFormatEMF, "EMF"},
                 {ImageFormatWMF, "WMF"},
                 {ImageFormatJPEG, "JPEG"},
                 {ImageFormatPNG, "PNG"},
                 {ImageFormatGIF, "GIF"},
                 {ImageFormatTIFF, "TIFF"},
                 {ImageFormatEXIF, "EXIF"},
                 {ImageFormatIcon, "Icon"}};
    for (const auto& row : table)
        if (row.id == g) return row.name;
    return "Unknown";
}

} // namespace imaging
