#!/usr/bin/env bash
# The project's C++ files are as clang-format leaves them, by the .clang-format at the top.
set -euo pipefail
cd "$(dirname "$0")/../.."
bash .ci/install-packages.sh clang-format-14
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format-14 --dry-run --Werror
