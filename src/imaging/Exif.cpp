// Placeholder until the EXIF reader and writer land.
#include "imaging/Exif.h"

namespace imaging {
bool ParseExif(const uint8_t*, size_t, std::vector<StoredProperty>&) { return false; }
std::vector<uint8_t> BuildExif(const std::vector<StoredProperty>&) { return {}; }
PROPID ThumbnailTagId(uint16_t) { return 0; }
} // namespace imaging
