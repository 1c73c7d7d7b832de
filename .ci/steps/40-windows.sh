#!/usr/bin/env bash
# The 32-bit Windows plug-in: cross-compiles Zelk.dll and videocapture.dll, then reads their
# tables. Zelk.dll must export exactly the plug-in's functions (those declared ZELK_API in
# plugin/exports.h) under their undecorated names, import the video library's seven
# operations, and need no MinGW runtime DLL.
set -euo pipefail
cd "$(dirname "$0")/../.."

bash .ci/install-packages.sh g++-mingw-w64-i686 cmake make

build=${ZELK_WINDOWS_BUILD_DIR:-build-win32}
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release \
  -DZELK_TESTS=OFF -DZELK_BENCH=OFF >/dev/null
cmake --build "$build" --target Zelk videocapture -j "$jobs"

failed=0
check() {  # what, expected, actual
  if [ "$2" != "$3" ]; then
    echo "FAIL: $1" >&2
    diff <(echo "$2") <(echo "$3") >&2 || true
    failed=1
  fi
}
# The names in a DLL's export table, or in its import table from one DLL.
exports() { awk '/\[Ordinal\/Name Pointer\] Table/ {f = 1; next} f && NF == 0 {f = 0} f {print $NF}' | sort; }
imports() { awk -v dll="$1" '$0 ~ "DLL Name: " dll "$" {f = 1; next} /DLL Name:/ || NF == 0 {f = 0}
                             f && $1 != "vma:" {print $NF}' | sort; }

plugin=$(i686-w64-mingw32-objdump -p "$build/Zelk.dll")
video=$(i686-w64-mingw32-objdump -p "$build/videocapture.dll")

declared=$(sed -n 's/^ZELK_API[^(]*[ *]\([A-Za-z_][A-Za-z_0-9]*\)(.*/\1/p' plugin/exports.h | sort)
[ -n "$declared" ] || { echo "no ZELK_API declarations found in plugin/exports.h" >&2; exit 1; }
check "Zelk.dll exports exactly the plug-in's functions, undecorated" "$declared" "$(exports <<<"$plugin")"

operations=$(printf '%s\n' videoOpen videoInqSize videoCapStart videoGetImage videoCapNext videoCapStop videoClose | sort)
check "Zelk.dll imports the video library's seven operations" "$operations" "$(imports videocapture.dll <<<"$plugin")"
missing_ops=$(comm -23 <(echo "$operations") <(exports <<<"$video"))
check "videocapture.dll exports the seven operations" "" "$missing_ops"

for dll in Zelk.dll videocapture.dll; do
  needed=$(i686-w64-mingw32-objdump -p "$build/$dll" | sed -n 's/^[[:space:]]*DLL Name: //p')
  echo "$dll needs: $(echo $needed)"
  runtime=$(grep -Ei '^(libgcc|libstdc\+\+|libwinpthread|libssp|libatomic|libgomp)' <<<"$needed" || true)
  check "$dll needs no MinGW runtime DLL" "" "$runtime"
done
exit $failed
