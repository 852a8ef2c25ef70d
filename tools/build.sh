#!/usr/bin/env bash
# Configures and builds Brakkenfel into build/ (or the folder given) the developers' way: warnings are errors.
# Usage: tools/build.sh [BUILD_DIR [CMAKE_OPTION...]]; a second run rebuilds only what changed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
shift || true
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRAKKENFEL_WERROR=ON "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
