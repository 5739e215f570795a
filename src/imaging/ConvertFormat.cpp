// Placeholder until in-place format conversion lands.
#include "imaging/Image.h"

namespace imaging {
Status Image::ConvertFormat(PixelFormat, DitherType, PaletteType, const ColorPalette*, float) {
    return SetStatus(NotImplemented);
}
} // namespace imaging
