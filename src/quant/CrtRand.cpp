#include "quant/CrtRand.h"

namespace zerimo {

namespace {
thread_local uint32_t crtState = 1;
}

int CrtRand() {
    crtState = crtState * 214013u + 2531011u;
    return int((crtState >> 16) & 0x7FFF);
}

void CrtSrand(uint32_t seed) {
    crtState = seed;
}

} // namespace zerimo
