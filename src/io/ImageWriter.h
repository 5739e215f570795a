#pragma once
/// The writers of the save chain, chosen by the target's extension. Every write goes to a
/// temporary file beside the target that replaces it only once it is complete.

#include "imaging/Image.h"
#include "imaging/Stream.h"
#include "imaging/Types.h"

#include <functional>
#include <string>

namespace zerimo {

struct WriteSettings {
    int jpegQuality = 100; // JPEG, WebP, HEIF and AVIF
    int bitsPerPixel = 32; // TIFF colour depth and icon depth
    imaging::Guid encoder; // the platform encoder for the other extensions (all zero: none)
};

/// The HEIF/AVIF writer: (image, stream, extension ".heic" or ".avif", quality) -> success.
using HeifWriterFn = std::function<bool(imaging::Image&, imaging::Stream&, const std::string&, int)>;
/// The installed HEIF/AVIF writer; empty until one is available.
HeifWriterFn& HeifWriterSlot();

/// True for ".emf", ".exif" and ".wmf", which are recorded as metafiles.
bool IsMetafileExtension(const std::string& ext);

/// Writes `image` to `path` by the lower-case extension `ext`. False when the writer fails; the
/// file that was at `path` is then left as it was.
bool WriteImageFile(imaging::Image& image, const std::string& path, const std::string& ext,
                    const WriteSettings& settings);

} // namespace zerimo
