#!/usr/bin/env bash
# The plain paths that the SSE2 ones replace in every other build (ZELK_SIMD=OFF): the
# camera, detection and pose tests, which compare the fast paths with plain references,
# pass on them too.
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake --preset nosimd >/dev/null
cmake --build --preset nosimd -j "$(nproc 2>/dev/null || echo 2)"
ctest --preset nosimd --no-tests=error -j "$(nproc 2>/dev/null || echo 2)"
