#include "io/ImageWriter.h"

#include "imaging/Codec.h"
#include "imaging/codecs/metafile/Metafile.h"
#include "io/IconWriter.h"
#include "io/SafeFile.h"
#include "io/WebP.h"
#include "io/heif/Heif.h"

#include <vector>

namespace zerimo {

using namespace imaging;

HeifWriterFn& HeifWriterSlot() {
    static HeifWriterFn writer = [](Image& image, Stream& out, const std::string& ext, int quality) {
        return WriteHeif(image, out, ext, quality);
    };
    return writer;
}

bool IsMetafileExtension(const std::string& ext) {
    return ext == ".emf" || ext == ".exif" || ext == ".wmf";
}

namespace {

/// The platform encoders; a multi-page TIFF keeps every page.
bool WriteWithEncoder(Image& image, Stream& out, const std::string& ext, const WriteSettings& s) {
    if (!FindEncoder(s.encoder)) return false;
    EncoderParameters params;
    if (ext == ".jpg" || ext == ".jpeg") params.AddLong(EncoderQuality, uint32_t(s.jpegQuality));
    const bool tiff = ext == ".tif" || ext == ".tiff";
    if (tiff) {
        params.AddLong(EncoderColorDepth, uint32_t(s.bitsPerPixel));
        params.AddLong(EncoderSaveFlag, EncoderValueMultiFrame);
    }
    uint32_t pages = 1;
    Guid dimension{};
    if (tiff && image.GetFrameDimensionsCount() > 0) {
        std::vector<Guid> dims(image.GetFrameDimensionsCount());
        if (image.GetFrameDimensionsList(dims.data(), uint32_t(dims.size())) == Ok) {
            dimension = dims[0];
            pages = image.GetFrameCount(dimension);
        }
    }
    if (pages <= 1) {
        if (image.Save(out, s.encoder, &params) != Ok) return false;
        if (tiff) {
            EncoderParameters flush;
            flush.AddLong(EncoderSaveFlag, EncoderValueFlush);
            // A single page may have been written at once; then there is nothing open to flush.
            const Status st = image.SaveAdd(&flush);
            if (st != Ok && st != WrongState) return false;
            image.GetLastStatus();
        }
        return true;
    }
    const uint32_t active = image.ActiveFrame();
    bool ok = image.SelectActiveFrame(dimension, 0) == Ok && image.Save(out, s.encoder, &params) == Ok;
    EncoderParameters next;
    next.AddLong(EncoderSaveFlag, EncoderValueFrameDimensionPage);
    for (uint32_t i = 1; ok && i < pages; ++i)
        ok = image.SelectActiveFrame(dimension, i) == Ok && image.SaveAdd(&image, &next) == Ok;
    EncoderParameters flush;
    flush.AddLong(EncoderSaveFlag, EncoderValueFlush);
    if (image.SaveAdd(&flush) != Ok) ok = false;
    image.SelectActiveFrame(dimension, active);
    image.GetLastStatus();
    return ok;
}

} // namespace

bool WriteImageFile(Image& image, const std::string& path, const std::string& ext, const WriteSettings& s) {
    auto file = SafeFile::Create(path);
    if (!file) return false;
    Stream& out = file->Stream();
    bool ok = false;
    if (IsMetafileExtension(ext)) {
        ok = WriteEmf(image, out) == Ok;
    } else if (ext == ".ico") {
        ok = WriteIcon(image, out, s.bitsPerPixel);
    } else if (ext == ".avif" || ext == ".heic") {
        ok = HeifWriterSlot() && HeifWriterSlot()(image, out, ext, s.jpegQuality);
    } else if (ext == ".webp") {
        ok = WriteWebp(image, out, s.jpegQuality);
    } else {
        ok = WriteWithEncoder(image, out, ext, s);
    }
    image.GetLastStatus();
    return ok && file->Commit();
}

} // namespace zerimo
