// Whether the hand-written SSE2 paths are built. Defining ZELK_NO_SIMD builds the plain
// paths instead, so that they stay compiled and tested on x86-64, which always has SSE2.
#pragma once

#if defined(__SSE2__) && !defined(ZELK_NO_SIMD)
#define ZELK_SSE2 1
#include <emmintrin.h>
#else
#define ZELK_SSE2 0
#endif
