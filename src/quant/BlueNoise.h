#pragma once
/// The 64 x 64 tileable blue-noise mask of signed bytes that perturbs the quantizers' decisions.

#include <cstdint>

namespace zerimo {

extern const int8_t BlueNoiseMask[4096];

/// The mask entry for a pixel-array position.
inline int NoiseAt(int64_t position) {
    return BlueNoiseMask[position & 4095];
}
/// The mask entry for image coordinates.
inline int NoiseAtXY(int x, int y) {
    return BlueNoiseMask[(y & 63) * 64 + (x & 63)];
}

} // namespace zerimo
