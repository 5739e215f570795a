// Placeholder until rotate/flip lands.
#include "imaging/Image.h"

namespace imaging {
Status Image::RotateFlip(RotateFlipType) {
    return SetStatus(NotImplemented);
}
} // namespace imaging
