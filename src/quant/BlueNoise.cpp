#include "quant/BlueNoise.h"

namespace zerimo {

// Rows 0 and 1 are fixed; BlueNoiseMask.py fills the rest and writes the table.
const int8_t BlueNoiseMask[4096] = {
#include "quant/BlueNoiseMask.inc"
};

} // namespace zerimo
