#!/usr/bin/env bash
# The long runs (CTest label "soak"): 100,000 frames through the plug-in with flat resident
# memory, and a short run under valgrind's memcheck with no errors and no leaks. They use
# a build of their own without OpenCV, so the video library has only the synthetic source.
# About 2 minutes on 2 cores: 1 to build, 40 s of soak, 30 s under the memory checker.
set -euo pipefail
cd "$(dirname "$0")/../.."
bash .ci/install-packages.sh valgrind
build=build-soak
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DZELK_BENCH=OFF -DCMAKE_DISABLE_FIND_PACKAGE_OpenCV=ON >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target test_soak
# The log is kept whole; the memory figures and the summaries are shown.
status=0
ctest --test-dir "$build" -L soak --no-tests=error -V >"$build/soak.log" 2>&1 || status=$?
grep -E "frames: resident|ERROR SUMMARY|Test +#|tests passed" "$build/soak.log" || true
if [ "$status" -ne 0 ]; then
  tail -n 100 "$build/soak.log"
  exit "$status"
fi
