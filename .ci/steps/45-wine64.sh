#!/usr/bin/env bash
# The 64-bit Windows build's tests under wine64: what only the Windows runtime shows (files
# in text mode, `\` in paths, 32-bit long, the C runtime's parsing and printing). The
# plug-in, camera, detection, pose and numeric programs and the end-to-end test through the
# loaded Zelk.dll; each program is one ctest test, as a wine start costs about a second.
set -euo pipefail
cd "$(dirname "$0")/../.."

bash .ci/install-packages.sh g++-mingw-w64-x86-64-posix wine64 googletest cmake make

jobs=$(nproc 2>/dev/null || echo 2)
export WINEDEBUG=-all
export WINEPREFIX=${ZELK_WINEPREFIX:-$PWD/build-win64/wineprefix}
cmake --preset win64 >/dev/null
# A persistent server spares each program wine's start-up; the first start makes the prefix
# (most of a minute). The server and wine's own services are started here, outside ctest:
# started by a test they would keep its output open and ctest waiting.
mkdir -p "$WINEPREFIX"
/usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
trap '/usr/lib/wine/wineserver -k || true' EXIT
/usr/lib/wine/wine64 wineboot -i </dev/null >/dev/null 2>&1 || true
cmake --build --preset win64 -j "$jobs"
ctest --preset win64 --no-tests=error -j "$jobs"
