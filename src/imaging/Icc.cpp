// Placeholder until colour management lands.
#include "imaging/Icc.h"

namespace imaging {
bool ApplyIccProfile(Surface&, const uint8_t*, size_t) { return false; }
bool ApplyIccProfile(ColorPalette&, const uint8_t*, size_t) { return false; }
bool ApplyGammaChromaticities(Surface&, double, const double*) { return false; }
bool ApplyGammaChromaticities(ColorPalette&, double, const double*) { return false; }
} // namespace imaging
