// Whether the hand-written SSE2 paths are built. Defining ZELK_NO_SIMD builds the plain
// paths instead, so that they stay compiled and tested on x86-64, which always has SSE2.
#pragma once

#if defined(__SSE2__) && !defined(ZELK_NO_SIMD)
#define ZELK_SSE2 1
#include <emmintrin.h>
#else
#define ZELK_SSE2 0
#endif

// Four-double vectors, for the few loops that divide much, in functions marked ZELK_AVX and
// run only where avxAvailable() says so. Not on 64-bit Windows, whose GCC cannot align the
// stack for spilled 32-byte vectors. The build forbids fused multiply-adds, so these
// functions round every product and sum as the scalar code does.
#if ZELK_SSE2 && defined(__GNUC__) && !defined(_WIN64)
#define ZELK_AVX_DISPATCH 1
#define ZELK_AVX __attribute__((target("avx")))
#include <immintrin.h>
namespace zelk {
inline bool avxAvailable() { return __builtin_cpu_supports("avx"); }
}  // namespace zelk
#else
#define ZELK_AVX_DISPATCH 0
#endif
