// zerimo-cli: the headless face of the image layer.

#include "imaging/Codec.h"
#include "imaging/Image.h"
#include "imaging/Stream.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace imaging;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

const char* const kUsage =
    "usage: zerimo-cli <command> [options]\n"
    "\n"
    "commands:\n"
    "  info [--json] FILE...                 decode each file and print its facts\n"
    "  convert IN OUT [--quality N] [--frame K]\n"
    "                                        decode IN and write OUT by its extension\n"
    "\n"
    "Run 'zerimo-cli <command> --help' for a command's options.\n";

const char* const kInfoUsage =
    "usage: zerimo-cli info [--json] FILE...\n"
    "\n"
    "Decodes each FILE and prints its size, pixel format, frames, resolution, flags,\n"
    "format and property items. --json prints one JSON object per file on one line.\n"
    "Exit status: 0 when every file decoded, 1 otherwise, 2 for a usage error.\n";

const char* const kConvertUsage =
    "usage: zerimo-cli convert IN OUT [--quality N] [--frame K]\n"
    "\n"
    "Decodes IN (frame K of its first frame dimension, default 0) and writes OUT with the\n"
    "encoder its extension names (.bmp .dib .rle .jpg .jpeg .jpe .jfif .gif .tif .tiff .png).\n"
    "  --quality N   JPEG quality 1..100 (default 100)\n"
    "  --frame K     the frame to write (default 0)\n"
    "Exit status: 0 on success, 1 on failure, 2 for a usage error.\n";

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += char(c);
            }
        }
    }
    return out + "\"";
}

std::string JsonNumber(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

struct Facts {
    bool ok = false;
    Status status = GenericError;
    uint32_t width = 0, height = 0;
    PixelFormat format = PixelFormatUndefined;
    uint32_t frameCount = 0;
    std::vector<Guid> dims;
    float dpiX = 0, dpiY = 0;
    uint32_t flags = 0;
    Guid raw = ImageFormatUndefined;
    bool transparency = false;
    std::vector<StoredProperty> props;
};

Facts Describe(const std::string& path) {
    Facts f;
    auto img = Image::FromFile(path, true);
    f.status = img->GetLastStatus();
    if (f.status != Ok) return f;
    f.ok = true;
    f.width = img->GetWidth();
    f.height = img->GetHeight();
    f.format = img->GetPixelFormat();
    f.dims.resize(img->GetFrameDimensionsCount());
    if (!f.dims.empty() && img->GetFrameDimensionsList(f.dims.data(), uint32_t(f.dims.size())) == Ok)
        f.frameCount = img->GetFrameCount(f.dims[0]);
    f.dpiX = img->GetHorizontalResolution();
    f.dpiY = img->GetVerticalResolution();
    f.flags = img->GetFlags();
    img->GetRawFormat(&f.raw);
    f.transparency = ImageHasTransparency(*img);
    f.props = img->Properties();
    return f;
}

void PrintJson(const std::string& path, const Facts& f) {
    std::string s = "{\"path\":" + JsonString(path) + ",\"ok\":" + (f.ok ? "true" : "false");
    s += ",\"width\":" + std::to_string(f.width) + ",\"height\":" + std::to_string(f.height);
    s += ",\"pixelFormat\":" + std::to_string(f.format);
    s += ",\"pixelFormatName\":" + JsonString(PixelFormatName(f.format));
    s += ",\"bitsPerPixel\":" + std::to_string(GetPixelFormatSize(f.format));
    s += ",\"frameCount\":" + std::to_string(f.frameCount) + ",\"frameDimensions\":[";
    for (size_t i = 0; i < f.dims.size(); ++i) s += (i ? "," : "") + JsonString(f.dims[i].ToString());
    s += "],\"dpiX\":" + JsonNumber(f.dpiX) + ",\"dpiY\":" + JsonNumber(f.dpiY);
    s += ",\"flags\":" + std::to_string(f.flags) + ",\"rawFormat\":" + JsonString(RawFormatName(f.raw));
    s += std::string(",\"hasTransparency\":") + (f.transparency ? "true" : "false") + ",\"properties\":[";
    for (size_t i = 0; i < f.props.size(); ++i) {
        const auto& p = f.props[i];
        s += (i ? "," : "") + std::string("{\"id\":") + std::to_string(p.id) +
             ",\"type\":" + std::to_string(p.type) + ",\"length\":" + std::to_string(p.value.size()) + "}";
    }
    s += "]}";
    std::puts(s.c_str());
}

const char* DimensionName(const Guid& g) {
    if (g == FrameDimensionTime) return "time";
    if (g == FrameDimensionPage) return "page";
    if (g == FrameDimensionResolution) return "resolution";
    return "unknown";
}

void PrintText(const std::string& path, const Facts& f) {
    std::printf("%s\n", path.c_str());
    std::printf("  format:       %s\n", RawFormatName(f.raw));
    std::printf("  size:         %u x %u\n", f.width, f.height);
    std::printf("  pixel format: %s (0x%X, %u bpp)\n", PixelFormatName(f.format), f.format,
                GetPixelFormatSize(f.format));
    std::printf("  frames:       %u", f.frameCount);
    if (!f.dims.empty()) std::printf(" (%s)", DimensionName(f.dims[0]));
    std::printf("\n  resolution:   %g x %g dpi\n", f.dpiX, f.dpiY);
    std::printf("  flags:        0x%X\n", f.flags);
    std::printf("  transparency: %s\n", f.transparency ? "yes" : "no");
    std::printf("  properties:   %zu\n", f.props.size());
    for (const auto& p : f.props)
        std::printf("    0x%04X type %u, %zu bytes\n", p.id, unsigned(p.type), p.value.size());
}

bool IsHelp(const char* a) {
    return std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0;
}

int UsageError(const char* usage, const char* message) {
    if (message) std::fprintf(stderr, "zerimo-cli: %s\n", message);
    std::fputs(usage, stderr);
    return kExitUsage;
}

int Info(int argc, char** argv) {
    bool json = false;
    std::vector<std::string> files;
    for (int i = 0; i < argc; ++i) {
        if (IsHelp(argv[i])) {
            std::fputs(kInfoUsage, stdout);
            return kExitOk;
        }
        if (std::strcmp(argv[i], "--json") == 0)
            json = true;
        else if (argv[i][0] == '-' && argv[i][1] != '\0')
            return UsageError(kInfoUsage, (std::string("unknown option ") + argv[i]).c_str());
        else
            files.push_back(argv[i]);
    }
    if (files.empty()) return UsageError(kInfoUsage, "no file given");
    int rc = kExitOk;
    for (const auto& path : files) {
        Facts f = Describe(path);
        if (json)
            PrintJson(path, f);
        else if (f.ok)
            PrintText(path, f);
        if (!f.ok) {
            std::fprintf(stderr, "zerimo-cli: cannot decode '%s': %s\n", path.c_str(), StatusName(f.status));
            rc = kExitFailure;
        }
    }
    return rc;
}

/// The encoder whose pattern list names the extension of `path` ("*.JPG;*.JPEG;...").
const ImageCodecInfo* EncoderForPath(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return nullptr;
    std::string ext = path.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return char(std::toupper(c)); });
    for (const auto& info : GetImageEncoders()) {
        const std::string& list = info.FilenameExtension;
        size_t start = 0;
        while (start <= list.size()) {
            size_t end = list.find(';', start);
            if (end == std::string::npos) end = list.size();
            if (list.compare(start, end - start, "*" + ext) == 0) return &info;
            start = end + 1;
        }
    }
    return nullptr;
}

bool ParseInt(const char* s, long lo, long hi, long& out) {
    char* end = nullptr;
    long v = std::strtol(s, &end, 10);
    if (!*s || *end || v < lo || v > hi) return false;
    out = v;
    return true;
}

int Convert(int argc, char** argv) {
    std::vector<std::string> files;
    long quality = 100, frame = 0;
    for (int i = 0; i < argc; ++i) {
        if (IsHelp(argv[i])) {
            std::fputs(kConvertUsage, stdout);
            return kExitOk;
        }
        if (std::strcmp(argv[i], "--quality") == 0 || std::strcmp(argv[i], "--frame") == 0) {
            const bool isQuality = argv[i][2] == 'q';
            if (i + 1 >= argc)
                return UsageError(kConvertUsage, (std::string(argv[i]) + " needs a value").c_str());
            if (!ParseInt(argv[++i], isQuality ? 1 : 0, isQuality ? 100 : 0x7FFFFFFF,
                          isQuality ? quality : frame))
                return UsageError(kConvertUsage, (std::string("bad value for ") + argv[i - 1]).c_str());
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            return UsageError(kConvertUsage, (std::string("unknown option ") + argv[i]).c_str());
        } else {
            files.push_back(argv[i]);
        }
    }
    if (files.size() != 2) return UsageError(kConvertUsage, "convert takes IN and OUT");
    const std::string& in = files[0];
    const std::string& out = files[1];

    const ImageCodecInfo* codec = EncoderForPath(out);
    if (!codec) {
        std::fprintf(stderr, "zerimo-cli: no encoder writes '%s'\n", out.c_str());
        return kExitFailure;
    }
    auto img = Image::FromFile(in, true);
    if (Status s = img->GetLastStatus(); s != Ok) {
        std::fprintf(stderr, "zerimo-cli: cannot decode '%s': %s\n", in.c_str(), StatusName(s));
        return kExitFailure;
    }
    if (frame > 0) {
        std::vector<Guid> dims(img->GetFrameDimensionsCount());
        Status s =
            dims.empty() ? InvalidParameter : img->GetFrameDimensionsList(dims.data(), uint32_t(dims.size()));
        if (s == Ok) s = img->SelectActiveFrame(dims[0], uint32_t(frame));
        if (s != Ok) {
            std::fprintf(stderr, "zerimo-cli: '%s' has no frame %ld: %s\n", in.c_str(), frame, StatusName(s));
            return kExitFailure;
        }
    }
    EncoderParameters params;
    if (codec->FormatID == ImageFormatJPEG) params.AddLong(EncoderQuality, uint32_t(quality));
    if (codec->FormatID == ImageFormatTIFF)
        params.AddLong(EncoderColorDepth, GetPixelFormatSize(img->GetPixelFormat()));
    if (Status s = img->Save(out, codec->Clsid, &params); s != Ok) {
        std::fprintf(stderr, "zerimo-cli: cannot write '%s': %s\n", out.c_str(), StatusName(s));
        return kExitFailure;
    }
    return kExitOk;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) return UsageError(kUsage, nullptr);
    const std::string cmd = argv[1];
    if (IsHelp(argv[1])) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (cmd == "info") return Info(argc - 2, argv + 2);
    if (cmd == "convert") return Convert(argc - 2, argv + 2);
    return UsageError(kUsage, ("unknown command '" + cmd + "'").c_str());
}
