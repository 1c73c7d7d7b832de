#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) with clang, ASan and UBSan, and runs each for a
# bounded time (ZELK_FUZZ_SECONDS, default 40) from its committed seed corpus. A crash, a
# sanitizer report or a hang fails the step and prints the input that caused it.
set -euo pipefail
cd "$(dirname "$0")/../.."

bash .ci/install-packages.sh clang-14 libclang-rt-14-dev

build=build-fuzz
seconds=${ZELK_FUZZ_SECONDS:-40}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 -DZELK_FUZZ=ON \
  -DZELK_TESTS=OFF -DZELK_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target zelk_fuzz

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for target in camera_file pattern_file video_config detection marker_pose; do
  mkdir "$work/$target"
  if ! "$build/fuzz/fuzz_$target" "$work/$target" "fuzz/corpus/$target" -max_total_time="$seconds" \
      -timeout=10 -artifact_prefix="$work/$target-" -print_final_stats=1 >"$work/$target.log" 2>&1; then
    tail -n 60 "$work/$target.log"
    for artifact in "$work/$target"-*; do
      [ -e "$artifact" ] && { echo "input $artifact:"; od -A d -t x1 "$artifact" | head -n 200; }
    done
    echo "fuzz_$target failed"
    exit 1
  fi
  echo "fuzz_$target: $(grep -o 'stat::number_of_executed_units: [0-9]*' "$work/$target.log" | grep -o '[0-9]*$') executions in $seconds s"
done
