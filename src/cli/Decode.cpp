// zerimo-cli decode: the whole load chain on each file, and which reader took it.

#include "Cli.h"

#include "imaging/Image.h"
#include "io/DecodeChain.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace cli {
namespace {

const char* const kDecodeUsage =
    "usage: zerimo-cli decode FILE...\n"
    "\n"
    "Runs the load chain on each FILE and prints one line per file: the path, the reader that\n"
    "took it (psd, tga, apng, platform, webp, heif, pcx), width, height, pixel format and frame\n"
    "count, separated by tabs.\n"
    "Exit status: 0 when every file gave an image, 1 otherwise, 2 for a usage error.\n";

} // namespace

int Decode(int argc, char** argv) {
    using namespace imaging;
    std::vector<std::string> files;
    for (int i = 0; i < argc; ++i) {
        if (IsHelp(argv[i])) {
            std::fputs(kDecodeUsage, stdout);
            return kExitOk;
        }
        if (argv[i][0] == '-' && argv[i][1] != '\0')
            return UsageError(kDecodeUsage, (std::string("unknown option ") + argv[i]).c_str());
        files.push_back(argv[i]);
    }
    if (files.empty()) return UsageError(kDecodeUsage, "no file given");

    int rc = kExitOk;
    for (const auto& path : files) {
        std::string reader;
        auto img = zerimo::DecodeImageFile(path, nullptr, zerimo::DefaultReaders(), &reader);
        // The APNG reader's progress line ends without a line break.
        std::fflush(stdout);
        if (!Image::Usable(img)) {
            std::fprintf(stderr, "zerimo-cli: cannot decode '%s'\n", path.c_str());
            rc = kExitFailure;
            continue;
        }
        uint32_t frames = 1;
        std::vector<Guid> dims(img->GetFrameDimensionsCount());
        if (!dims.empty() && img->GetFrameDimensionsList(dims.data(), uint32_t(dims.size())) == Ok)
            frames = img->GetFrameCount(dims[0]);
        std::printf("%s\t%s\t%u\t%u\t%s\t%u\n", path.c_str(), reader.c_str(), img->GetWidth(),
                    img->GetHeight(), PixelFormatName(img->GetPixelFormat()), frames);
    }
    return rc;
}

} // namespace cli
