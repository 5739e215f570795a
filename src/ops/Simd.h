#pragma once
/// Function attributes for loops written to be vectorised: a copy built for AVX2 and FMA is chosen
/// at run time where the processor has them.

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define ZERIMO_AVX2 __attribute__((target("avx2,fma")))
#define ZERIMO_HAVE_AVX2 1
#else
#define ZERIMO_AVX2
#define ZERIMO_HAVE_AVX2 0
#endif
#define ZERIMO_INLINE inline __attribute__((always_inline))

namespace zerimo {

inline bool CpuHasAvx2() {
#if ZERIMO_HAVE_AVX2
    static const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    return avx2;
#else
    return false;
#endif
}

} // namespace zerimo
