#include "io/DecodeChain.h"

#include "io/WebP.h"
#include "io/apng/Apng.h"
#include "io/heif/Heif.h"
#include "io/pcx/Pcx.h"
#include "io/psd/Psd.h"
#include "io/tga/Tga.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace zerimo {

using imaging::Image;
using imaging::Stream;

const ChainReaders& DefaultReaders() {
    static const ChainReaders readers = [] {
        ChainReaders r;
        r.psd = [](const std::string& path) { return ReadPsd(path); };
        r.tga = [](const std::string& path) { return ReadTga(path); };
        r.apng = [](Stream& s) { return DecodeApng(s); };
        r.webp = [](Stream& s) { return ReadWebp(s); };
        r.heif = [](Stream& s) { return ReadHeif(s); };
        r.pcx = [](const uint8_t* data, size_t size) { return ReadPcx(data, size); };
        return r;
    }();
    return readers;
}

std::string LowerExtension(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t start = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot < start) return {};
    std::string ext = path.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return ext;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string FileNameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

namespace {

/// Usable without losing the status: reading it clears it, so a failure is recorded again for the
/// caller, who tests it after the chain.
bool PeekUsable(const ImagePtr& img) {
    if (!img) return false;
    const imaging::Status s = img->GetLastStatus();
    if (s == imaging::Ok) return true;
    img->SetStatus(s);
    return false;
}

} // namespace

ImagePtr DecodeImageFile(const std::string& path, Stream* stream, const ChainReaders& readers,
                         std::string* reader) {
    const std::string ext = LowerExtension(path);
    ImagePtr result;
    std::string taken;
    auto take = [&](ImagePtr img, const char* name) {
        result = std::move(img);
        taken = name;
    };

    if (ext == ".psd" && readers.psd) take(readers.psd(path), "psd");
    if (!result && ext == ".tga" && readers.tga) take(readers.tga(path), "tga");

    std::unique_ptr<imaging::FileStream> own;
    if (!result && !stream) {
        own = imaging::FileStream::OpenRead(path);
        if (!own || !own->IsOpen()) {
            if (reader) reader->clear();
            return nullptr;
        }
        stream = own.get();
    }
    const bool earlyResult = result != nullptr;

    if (!earlyResult && ext == ".png" && readers.apng) {
        stream->Rewind();
        take(readers.apng(*stream), "apng");
    }
    if (!earlyResult && !PeekUsable(result)) {
        stream->Rewind();
        take(Image::FromStream(*stream, true), "platform");
    }
    // The later readers take over from an unusable result only when they produce an image.
    if (!earlyResult && !PeekUsable(result) && readers.webp) {
        stream->Rewind();
        if (ImagePtr img = readers.webp(*stream)) take(std::move(img), "webp");
    }
    if (!earlyResult && !PeekUsable(result) && readers.heif) {
        stream->Rewind();
        if (ImagePtr img = readers.heif(*stream)) take(std::move(img), "heif");
    }
    if (!earlyResult && !PeekUsable(result) && ext == ".pcx" && readers.pcx) {
        std::vector<uint8_t> bytes;
        if (stream->Rewind() && stream->ReadAll(bytes)) take(readers.pcx(bytes.data(), bytes.size()), "pcx");
    }
    if (reader) *reader = PeekUsable(result) ? taken : std::string();
    return result;
}

} // namespace zerimo
