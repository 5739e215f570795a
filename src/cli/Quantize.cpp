// zerimo-cli quantize: the colour reduction of one file, by the document's choice of method or a
// forced one.

#include "Cli.h"

#include "document/ZerimoDoc.h"
#include "io/DecodeChain.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

using namespace zerimo;

namespace {

const char* const kQuantizeUsage =
    "usage: zerimo-cli quantize IN OUT --colors 2|16|256|65536\n"
    "                           [--method auto|pnn|pnnlab|otsu|scq|eaq] [--threads N] [--time]\n"
    "\n"
    "Opens IN as the document and reduces it to the number of colours: 'auto' (the default)\n"
    "picks the method as the Convert To commands do; pnn and pnnlab are the pairwise-merge\n"
    "quantizers in RGB and CIELAB, otsu the black-and-white threshold, scq the spatial and eaq\n"
    "the edge-aware spatial quantizer. OUT is written by its extension (PNG keeps the palette).\n"
    "  --threads N  threads for the parallel parts (default: one per core; results are the same)\n"
    "  --time       print the conversion's time on standard error\n"
    "Exit status: 0 on success, 1 when decoding, converting or writing fails, 2 for a usage error.\n";

} // namespace

namespace cli {

int Quantize(int argc, char** argv) {
    std::vector<std::string> files;
    long colors = 0, threads = 0;
    std::string method = "auto";
    bool timing = false;
    for (int i = 0; i < argc; ++i) {
        if (IsHelp(argv[i])) {
            std::fputs(kQuantizeUsage, stdout);
            return kExitOk;
        }
        const std::string a = argv[i];
        if (a == "--colors" || a == "--method" || a == "--threads") {
            if (i + 1 >= argc) return UsageError(kQuantizeUsage, (a + " needs a value").c_str());
            const char* v = argv[++i];
            if (a == "--method") {
                method = v;
            } else if (!ParseInt(v, a == "--colors" ? 2 : 0, a == "--colors" ? 65536 : 256,
                                 a == "--colors" ? colors : threads)) {
                return UsageError(kQuantizeUsage, ("bad value for " + a).c_str());
            }
        } else if (a == "--time") {
            timing = true;
        } else if (a.size() > 1 && a[0] == '-') {
            return UsageError(kQuantizeUsage, ("unknown option " + a).c_str());
        } else {
            files.push_back(a);
        }
    }
    if (files.size() != 2) return UsageError(kQuantizeUsage, "quantize takes IN and OUT");
    imaging::PixelFormat format;
    switch (colors) {
    case 2:
        format = imaging::PixelFormat1bppIndexed;
        break;
    case 16:
        format = imaging::PixelFormat4bppIndexed;
        break;
    case 256:
        format = imaging::PixelFormat8bppIndexed;
        break;
    case 65536:
        format = imaging::PixelFormat16bppRGB565;
        break;
    default:
        return UsageError(kQuantizeUsage, "--colors takes 2, 16, 256 or 65536");
    }
    static const char* const kMethods[] = {"pnn", "pnnlab", "eaq", "scq", "otsu"};
    int type = -1;
    for (int k = 0; k < 5; ++k)
        if (method == kMethods[k]) type = k;
    if (type < 0 && method != "auto") return UsageError(kQuantizeUsage, ("unknown method " + method).c_str());

    CHeadlessHost host;
    CZerimoDoc doc(host);
    doc.quantizer.state.threads = int(threads);
    doc.LoadImageFile(nullptr, files[0], false);
    if (!doc.imageLoaded) {
        std::fprintf(stderr, "zerimo-cli: cannot decode '%s'\n", files[0].c_str());
        return kExitFailure;
    }
    ImagePtr source = doc.GetBitmap();
    const auto start = std::chrono::steady_clock::now();
    ImagePtr result;
    if (type < 0) {
        if (!doc.ConvertTo(format, true)) return kExitFailure;
        host.WaitForPosts([&] { return doc.busy != 0; });
        host.RunPosted();
        while (doc.busy) {
            host.WaitForPosts([&] { return doc.busy != 0; });
            host.RunPosted();
        }
        result = doc.bitmap;
        // Unchanged: already in the format, or the conversion failed and said so.
        if (result == source && source->GetPixelFormat() != format) return kExitFailure;
    } else {
        // A forced method: the high-colour target takes the transparent format as ConvertTo would.
        if (format == imaging::PixelFormat16bppRGB565 && doc.hasTransparency)
            format = imaging::PixelFormat16bppARGB1555;
        result = doc.quantizer.ConvertImage(source, type, format, true, [&](const std::string& text) {
            host.ShowMessage(text, MessageIcon::Warning);
        });
        if (!result) return kExitFailure;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (timing) std::fprintf(stderr, "quantize: %.3f s\n", seconds);
    return doc.SaveImageFile(files[1], result.get(), true) ? kExitOk : kExitFailure;
}

} // namespace cli
