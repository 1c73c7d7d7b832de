#!/usr/bin/env bash
# Two detectors on two threads under ThreadSanitizer: only that test program is built, and
# any report fails it.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=build-tsan
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELK_SANITIZE=thread -DZELK_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target test_threads
TSAN_OPTIONS=halt_on_error=1 "$build/tests/test_threads"
