#pragma once
/// The tags of a TIFF page as property items: the page's own tags with their TIFF ids and types
/// (values little-endian), then the tags of its EXIF and GPS directories in the same list.

#include "imaging/Image.h"

#include <tiffio.h>

#include <vector>

namespace imaging::codecs::tiff {

/// Appends the items of the current directory. Returns true when it had to read another directory
/// (EXIF or GPS) to do so; the caller then selects the page again before using the handle.
bool ReadTiffProperties(TIFF* tif, std::vector<StoredProperty>& out);

/// The fraction that gives `value` back within `tolerance` (relative): libtiff hands rationals
/// over as float or double, and items hold them as numerator and denominator again.
void ToRational(double value, bool isSigned, double tolerance, uint32_t& numerator, uint32_t& denominator);

} // namespace imaging::codecs::tiff
