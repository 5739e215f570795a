#pragma once
/// The C runtime's rand() as the quantizers expect it: the classic linear congruential generator,
/// one state per thread, starting at 1 on every thread and never seeded.

#include <cstdint>

namespace zerimo {

/// (state = state * 214013 + 2531011) >> 16 & 0x7FFF, on this thread's state.
int CrtRand();
/// Resets this thread's state (tests and the single-threaded runs of the benchmarks).
void CrtSrand(uint32_t seed);

} // namespace zerimo
