#!/usr/bin/env bash
# Installs what Brakkenfel and its tests need, builds everything and runs every test.
# Usage: tools/test.sh [CMAKE_OPTION...]; BUILD_DIR picks the build folder (default build/).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
"$root/tools/install-deps.sh" --test
"$root/tools/build.sh" "$build" -DBRAKKENFEL_TESTS=ON -DBRAKKENFEL_BENCH=ON "$@"
ctest --test-dir "$build" --output-on-failure --no-tests=error -j"$(nproc)"
