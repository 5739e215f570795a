// zerimo-cli batch: convert many files into one format and folder, as the Batch Conversion command.

#include "Cli.h"

#include "document/ZerimoDoc.h"
#include "io/DecodeChain.h"
#include "io/ImageWriter.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

using namespace zerimo;

namespace {

const char* const kBatchUsage =
    "usage: zerimo-cli batch --to EXT [--prefix P] --out DIR [--quality N] [--jobs N] FILE...\n"
    "\n"
    "Decodes each FILE and writes it to DIR/P<name>EXT (the prefix defaults to 'prefix_').\n"
    "Files that do not decode are skipped; a failed save prints its message and the run goes on.\n"
    "Files are converted on all cores (--jobs sets how many at once); a target named by two files\n"
    "gets the later one, as one at a time would.\n"
    "Exit status: 0, 1 when a save failed, 2 for a usage error.\n";

std::string BaseName(const std::string& path) {
    const std::string name = FileNameOf(path);
    const std::string ext = LowerExtension(name);
    return name.substr(0, name.size() - ext.size());
}

} // namespace

namespace cli {

int Batch(int argc, char** argv) {
    std::string to, prefix = "prefix_", out;
    long quality = 100, jobs = long(std::max(1u, std::thread::hardware_concurrency()));
    std::vector<std::string> files;
    for (int i = 0; i < argc; ++i) {
        if (IsHelp(argv[i])) {
            std::fputs(kBatchUsage, stdout);
            return kExitOk;
        }
        const std::string a = argv[i];
        if (a == "--to" || a == "--prefix" || a == "--out" || a == "--quality" || a == "--jobs") {
            if (i + 1 >= argc) return UsageError(kBatchUsage, (a + " needs a value").c_str());
            const char* v = argv[++i];
            if (a == "--to")
                to = v;
            else if (a == "--prefix")
                prefix = v;
            else if (a == "--out")
                out = v;
            else if (!ParseInt(v, 1, a == "--quality" ? 100 : 256, a == "--quality" ? quality : jobs))
                return UsageError(kBatchUsage, ("bad value for " + a).c_str());
        } else if (a.size() > 1 && a[0] == '-') {
            return UsageError(kBatchUsage, ("unknown option " + a).c_str());
        } else {
            files.push_back(a);
        }
    }
    if (to.empty() || out.empty() || files.empty())
        return UsageError(kBatchUsage, "batch needs --to, --out and files");
    if (to[0] != '.') to = "." + to;
    std::transform(to.begin(), to.end(), to.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    while (out.size() > 1 && out.back() == '/') out.pop_back();

    CHeadlessHost host;
    host.settings.jpegQuality = int(quality);
    CZerimoDoc doc(host);
    doc.OnNewDocument();

    auto target = [&](const std::string& f) { return out + "/" + prefix + BaseName(f) + to; };
    bool anyFailed = false;

    if (IsMetafileExtension(to)) {
        // A metafile save reloads what it wrote as the document: one file at a time.
        for (const auto& f : files) {
            ImagePtr img = DecodeImageFile(f, nullptr);
            if (!imaging::Image::Usable(img)) continue;
            if (!doc.SaveImageFile(target(f), img.get(), true)) anyFailed = true;
        }
        return anyFailed ? kExitFailure : kExitOk;
    }

    if (to == ".gif") {
        // The colour reduction that GIF needs carries its state from one file to the next, so the
        // files go one at a time, in order; the quantizer itself uses every core.
        for (const auto& f : files) {
            ImagePtr img = DecodeImageFile(f, nullptr);
            if (!imaging::Image::Usable(img)) continue;
            if (!doc.SaveImageFile(target(f), img.get(), true)) anyFailed = true;
        }
        return anyFailed ? kExitFailure : kExitOk;
    }

    // Files that name the same target stay together and in order, so the later one wins.
    std::map<std::string, std::vector<size_t>> byTarget;
    std::vector<std::vector<size_t>> groups;
    for (size_t i = 0; i < files.size(); ++i) byTarget[target(files[i])].push_back(i);
    for (auto& [t, g] : byTarget) groups.push_back(g);
    std::sort(groups.begin(), groups.end());

    std::vector<char> saveFailed(files.size(), 0);
    std::atomic<size_t> nextGroup{0};
    const imaging::Guid encoder = doc.saveAsTypes.EncoderFor(to);
    auto work = [&] {
        for (size_t gi; (gi = nextGroup.fetch_add(1)) < groups.size();) {
            for (size_t i : groups[gi]) {
                ImagePtr img = DecodeImageFile(files[i], nullptr);
                if (!imaging::Image::Usable(img)) continue;
                WriteSettings s;
                s.jpegQuality = int(quality);
                // The depth of the image being converted, not of whatever the document shows.
                s.bitsPerPixel = int(imaging::GetPixelFormatSize(img->GetPixelFormat()));
                s.encoder = encoder;
                const bool ok = WriteImageFile(*img, target(files[i]), to, s);
                saveFailed[i] = !ok;
            }
        }
    };
    std::vector<std::thread> pool;
    const size_t n = std::min<size_t>(size_t(jobs), groups.size());
    for (size_t t = 1; t < n; ++t) pool.emplace_back(work);
    work();
    for (auto& t : pool) t.join();

    for (size_t i = 0; i < files.size(); ++i) {
        if (!saveFailed[i]) continue;
        anyFailed = true;
        std::fprintf(stderr, "message: Failed to save image in '%s' file\n", target(files[i]).c_str());
    }
    return anyFailed ? kExitFailure : kExitOk;
}

} // namespace cli
