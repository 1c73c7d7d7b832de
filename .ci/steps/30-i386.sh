#!/usr/bin/env bash
# The host is a 32-bit process: build the core, the plug-in and the tests for i386 and run
# the tests under qemu-i386, so the host records are read with 32-bit words.
set -euo pipefail
cd "$(dirname "$0")/../.."

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
bash .ci/install-packages.sh g++ g++-multilib cmake make qemu-user libgtest-dev:i386

build=${ZELK_I386_BUILD_DIR:-build-i386}
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/i386.cmake -DCMAKE_BUILD_TYPE=Release -DZELK_BENCH=OFF >/dev/null
cmake --build "$build" -j "$jobs"
readelf -h "$build/libZelk.so" | grep -q "Class: *ELF32" || { echo "libZelk.so is not a 32-bit library" >&2; exit 1; }
ctest --test-dir "$build" --output-on-failure --no-tests=error -LE soak -j "$jobs"
