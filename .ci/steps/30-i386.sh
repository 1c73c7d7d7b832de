#!/usr/bin/env bash
# The host is a 32-bit process: build the core, the plug-in and the tests for i386 and run
# the tests under qemu-i386, so the host records are read with 32-bit words.
set -euo pipefail
cd "$(dirname "$0")/../.."

export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  apt-get update -q
fi
packages=(g++ g++-multilib cmake make qemu-user libgtest-dev libgtest-dev:i386)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

build=${ZELK_I386_BUILD_DIR:-build-i386}
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/i386.cmake -DCMAKE_BUILD_TYPE=Release -DZELK_BENCH=OFF >/dev/null
cmake --build "$build" -j "$jobs"
file "$build/libZelk.so" | grep -q "ELF 32-bit" || { echo "libZelk.so is not a 32-bit library" >&2; exit 1; }
ctest --test-dir "$build" --output-on-failure --no-tests=error -j "$jobs"
