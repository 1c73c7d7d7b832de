#!/usr/bin/env bash
# The whole test suite built with AddressSanitizer and UndefinedBehaviorSanitizer; the
# build stops at the first report (-fno-sanitize-recover=all), so any finding fails a test.
# Runs after the README's test command, which has installed the packages.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=build-asan
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELK_SANITIZE=address,undefined -DZELK_BENCH=OFF >/dev/null
cmake --build "$build" -j2
export ASAN_OPTIONS=detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1
ctest --test-dir "$build" --output-on-failure --no-tests=error -j2 -LE soak  # the long runs have their own step
