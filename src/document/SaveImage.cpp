#include "document/ZerimoDoc.h"

#include "io/DecodeChain.h"
#include "io/ImageWriter.h"

#include <cctype>
#include <sys/stat.h>

namespace zerimo {

using namespace imaging;

std::string NameFromUrl(const std::string& text) {
    auto hex = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string decoded;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
            decoded += char(hex(text[i + 1]) * 16 + hex(text[i + 2]));
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    const size_t slash = decoded.rfind('/');
    std::string name = slash == std::string::npos ? decoded : decoded.substr(slash + 1);
    return name.substr(0, name.find('.'));
}

bool CZerimoDoc::SaveImageFile(const std::string& path, Image* image, bool batch) {
    busy = 1;
    const std::string ext = LowerExtension(path);
    BakeAdjustments();

    const bool ownWriter = ext == ".ico" || ext == ".avif" || ext == ".heic" || ext == ".webp";
    ImagePtr keep; // holds the document's image while it is written
    if (!image) {
        keep = previewImage ? previewImage : (ownWriter ? GetBitmap() : bitmap);
        image = keep.get();
    }
    if (!image) {
        busy = 0;
        host.ShowMessage("Failed to save image in '" + path + "' file", MessageIcon::Error);
        return false;
    }

    WriteSettings settings;
    settings.jpegQuality = host.Settings().jpegQuality;
    settings.bitsPerPixel = bitsPerPixel;

    if (IsMetafileExtension(ext)) {
        if (!WriteImageFile(*image, path, ext, settings)) {
            busy = 0;
            host.ShowMessage("Failed to save image in '" + path + "' file", MessageIcon::Error);
            return false;
        }
        SetModifiedFlag(false);
        const bool result = OnOpenDocument(path);
        busy = 0;
        return result;
    }

    settings.encoder = saveAsTypes.EncoderFor(ext);
    bool ok = true;
    if (ext == ".gif" && image->GetPixelFormat() != PixelFormat8bppIndexed) {
        // GIF holds 8-bit indices: the document's own bitmap is reduced in place (no undo step).
        ImagePtr converted;
        if (image == bitmap.get()) {
            if (ConvertTo(PixelFormat8bppIndexed, false)) converted = bitmap;
        } else {
            // Another image (a batch source, a preview) is converted without touching the document.
            const ImagePtr source(ImagePtr(), image);
            converted = quantizer.ConvertImage(
                source, JobPnnRgb, PixelFormat8bppIndexed, true,
                [this](const std::string& text) { host.ShowMessage(text, MessageIcon::Warning); });
        }
        if (converted) {
            keep = converted;
            image = keep.get();
        } else if (!IsIndexedPixelFormat(image->GetPixelFormat())) {
            ok = false;
        }
    }
    if (ok) ok = WriteImageFile(*image, path, ext, settings);

    bool result = false;
    if (ok && !batch) {
        SetModifiedFlag(false);
        result = OnOpenDocument(path);
    } else if (ok) {
        result = true;
    } else {
        host.ShowMessage("Failed to save image in '" + path + "' file", MessageIcon::Error);
    }
    busy = 0;
    return result;
}

bool CZerimoDoc::OnSaveDocument(const std::string& path) {
    return SaveImageFile(path, nullptr, false);
}

bool CZerimoDoc::DoFileSave() {
    if (FileExists()) return OnSaveDocument(pathName);
    return DoSave(pathName, true);
}

bool CZerimoDoc::DoSave(const std::string& path, bool) {
    busy = 1;
    std::string defExt;
    if (frameCount > 1)
        defExt = ".heic";
    else if (hasTransparency)
        defExt = ".png";
    else if (bitsPerPixel >= 24)
        defExt = ".jpg";
    else if (bitsPerPixel == 8)
        defExt = ".gif";
    else
        defExt = ".png";

    // The proposed name: the path with the default extension; a web address gives its bare name.
    std::string name = path;
    const std::string oldExt = LowerExtension(name);
    name = name.substr(0, name.size() - oldExt.size()) + defExt;
    if (const size_t eq = name.rfind('='); eq != std::string::npos) name = name.substr(eq + 1);
    struct stat st {};
    if (::stat(name.c_str(), &st) != 0) name = NameFromUrl(name);

    SaveDialogRequest request;
    request.proposedName = name;
    if (FileExists()) request.folder = FolderOf(pathName);
    request.filter = saveAsTypes.filter;
    request.filterIndex = saveAsTypes.FilterIndexFor(defExt);
    request.defaultExtension = defExt;
    std::string chosen;
    if (!host.AskSavePath(request, chosen)) {
        busy = 0;
        return false;
    }
    if (!OnSaveDocument(chosen)) {
        busy = 0;
        return false;
    }
    SetModifiedFlag(false);
    SetPathName(chosen, true);
    busy = 0;
    return true;
}

} // namespace zerimo
