#pragma once
/// EXIF and TIFF IFDs <-> property items, with the platform's tag ids: IFD0 tags keep their ids,
/// the EXIF and GPS IFDs are flattened into the same list (GPS tags 0x0000-0x001F), and the
/// thumbnail IFD (IFD1) becomes the 0x50xx ids (0x501B holds the thumbnail bytes).

#include "imaging/Image.h"

#include <cstdint>
#include <vector>

namespace imaging {

/// Parses a TIFF-structured block ("II*\0" or "MM\0*" header first, as in a JPEG APP1 after
/// "Exif\0\0" or a PNG eXIf chunk) and appends its items; values are converted to little-endian.
/// Every offset and count is checked against `size`; a damaged block yields the items read so far
/// and false.
bool ParseExif(const uint8_t* data, size_t size, std::vector<StoredProperty>& out);

/// Builds a little-endian TIFF-structured EXIF block (without the "Exif\0\0" prefix) from the items
/// that belong in EXIF: IFD0, the EXIF IFD and the GPS IFD; thumbnail items are left out.
/// Returns an empty vector when no item qualifies.
std::vector<uint8_t> BuildExif(const std::vector<StoredProperty>& items);

/// Maps a thumbnail-IFD tag to its platform id (0x0100 -> 0x5020, ...); 0 when it has none.
PROPID ThumbnailTagId(uint16_t tiffTag);

} // namespace imaging
