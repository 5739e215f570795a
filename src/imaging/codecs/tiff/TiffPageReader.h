#pragma once
/// Decodes one page (directory) of an open TIFF into a frame: pixels in the stored format that
/// fits the page, palette, resolution, flags and property items.

#include "imaging/Codec.h"
#include "imaging/codecs/tiff/TiffHandle.h"

namespace imaging::codecs::tiff {

/// Makes page `index` current and decodes it into `out`. A page that libtiff cannot read completely
/// fails (GenericError, NotImplemented for layouts nothing here can read, OutOfMemory for sizes
/// over the limits); `out` is then left without pixels.
Status ReadTiffPage(TiffHandle& handle, uint32_t index, const DecodeOptions& options, Frame& out);

} // namespace imaging::codecs::tiff
