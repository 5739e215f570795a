#pragma once
/// EMF and WMF: decoders that give metafile images (rasterised on demand with QPainter by playing
/// their records), and the writer that records an image as an enhanced metafile.

#include "imaging/Codec.h"
#include "imaging/Image.h"
#include "imaging/Stream.h"

namespace imaging {

const ImageDecoder& EmfDecoder();
const ImageDecoder& WmfDecoder();

/// Records `image` (its active frame; a metafile is rasterised first) as an EMF whose picture is
/// the image drawn at (0, 0) with its own pixel width and height.
Status WriteEmf(Image& image, Stream& out);

} // namespace imaging
