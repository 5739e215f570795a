// zerimo-cli: the headless face of the image layer.

#include "Cli.h"

#include "document/ZerimoDoc.h"
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
using namespace cli;

namespace {

const char* const kUsage =
    "usage: zerimo-cli <command> [options]\n"
    "\n"
    "commands:\n"
    "  info [--json | --report] FILE...      decode each file and print its facts\n"
    "  decode FILE...                        run the load chain and name the reader of each file\n"
    "  convert IN OUT [--quality N] [--frame K] [--no-auto-rotate]\n"
    "                                        decode IN and write OUT by its extension\n"
    "  script [FILE|-]                       drive one document with one command a line\n"
    "  batch --to EXT --out DIR FILE...      convert many files into one format\n"
    "  quantize IN OUT --colors N [--method M]  reduce the colours of one file\n"
    "\n"
    "Run 'zerimo-cli <command> --help' for a command's options.\n";

const char* const kInfoUsage =
    "usage: zerimo-cli info [--json | --report] FILE...\n"
    "\n"
    "Decodes each FILE and prints its size, pixel format, frames, resolution, flags,\n"
    "format and property items. --json prints one JSON object per file on one line;\n"
    "--report prints the properties report of the file opened as a document.\n"
    "Exit status: 0 when every file decoded, 1 otherwise, 2 for a usage error.\n";

const char* const kConvertUsage =
    "usage: zerimo-cli convert IN OUT [--quality N] [--frame K] [--no-auto-rotate]\n"
    "\n"
    "Decodes IN through the load chain (frame K of its first frame dimension, default 0),\n"
    "turns it upright by its EXIF orientation unless --no-auto-rotate, and writes OUT by its\n"
    "extension (.bmp .jpg .gif .tif .png .ico .webp .emf .wmf ...).\n"
    "  --quality N   JPEG and WebP quality 1..100 (default 100)\n"
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

int Info(int argc, char** argv) {
    bool json = false, report = false;
    std::vector<std::string> files;
    for (int i = 0; i < argc; ++i) {
        if (IsHelp(argv[i])) {
            std::fputs(kInfoUsage, stdout);
            return kExitOk;
        }
        if (std::strcmp(argv[i], "--json") == 0)
            json = true;
        else if (std::strcmp(argv[i], "--report") == 0)
            report = true;
        else if (argv[i][0] == '-' && argv[i][1] != '\0')
            return UsageError(kInfoUsage, (std::string("unknown option ") + argv[i]).c_str());
        else
            files.push_back(argv[i]);
    }
    if (files.empty()) return UsageError(kInfoUsage, "no file given");
    if (json && report) return UsageError(kInfoUsage, "--json and --report exclude each other");
    int rc = kExitOk;
    if (report) {
        for (const auto& path : files) {
            zerimo::CHeadlessHost host;
            host.printMessages = false;
            zerimo::CZerimoDoc doc(host);
            if (!doc.OnOpenDocument(path)) {
                std::fprintf(stderr, "zerimo-cli: cannot decode '%s'\n", path.c_str());
                rc = kExitFailure;
                continue;
            }
            std::fputs(doc.BuildPropertiesReport().c_str(), stdout);
        }
        return rc;
    }
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

} // namespace

namespace cli {

bool IsHelp(const char* a) {
    return std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0;
}

int UsageError(const char* usage, const char* message) {
    if (message) std::fprintf(stderr, "zerimo-cli: %s\n", message);
    std::fputs(usage, stderr);
    return kExitUsage;
}

bool ParseInt(const char* s, long lo, long hi, long& out) {
    char* end = nullptr;
    long v = std::strtol(s, &end, 10);
    if (!*s || *end || v < lo || v > hi) return false;
    out = v;
    return true;
}

} // namespace cli

namespace {

int Convert(int argc, char** argv) {
    std::vector<std::string> files;
    long quality = 100, frame = 0;
    bool autoRotate = true;
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
        } else if (std::strcmp(argv[i], "--no-auto-rotate") == 0) {
            autoRotate = false;
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            return UsageError(kConvertUsage, (std::string("unknown option ") + argv[i]).c_str());
        } else {
            files.push_back(argv[i]);
        }
    }
    if (files.size() != 2) return UsageError(kConvertUsage, "convert takes IN and OUT");
    const std::string& in = files[0];
    const std::string& out = files[1];

    zerimo::CHeadlessHost host;
    host.settings.jpegQuality = int(quality);
    zerimo::CZerimoDoc doc(host);
    doc.LoadImageFile(nullptr, in, false);
    if (!doc.imageLoaded) {
        std::fprintf(stderr, "zerimo-cli: cannot decode '%s'\n", in.c_str());
        return kExitFailure;
    }
    if (frame > 0) {
        if (uint32_t(frame) >= doc.frameCount || !doc.SelectFrame(uint32_t(frame))) {
            std::fprintf(stderr, "zerimo-cli: '%s' has no frame %ld\n", in.c_str(), frame);
            return kExitFailure;
        }
        doc.currentFrame = int(frame);
    }
    if (autoRotate) doc.ApplyExifOrientation();
    return doc.SaveImageFile(out, nullptr, true) ? kExitOk : kExitFailure;
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
    if (cmd == "script") return Script(argc - 2, argv + 2);
    if (cmd == "batch") return Batch(argc - 2, argv + 2);
    if (cmd == "decode") return Decode(argc - 2, argv + 2);
    if (cmd == "quantize") return Quantize(argc - 2, argv + 2);
    return UsageError(kUsage, ("unknown command '" + cmd + "'").c_str());
}
