#!/usr/bin/env bash
# Installs what running Brakkenfel needs, builds the program and starts the arena (arguments go to the program).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
"$root/tools/install-deps.sh"
# A new build folder leaves out the tests and benchmarks, whose packages only tools/test.sh installs;
# one configured before (by tools/test.sh, say) keeps its settings.
first=()
[ -f "$build/CMakeCache.txt" ] || first=(-DBRAKKENFEL_TESTS=OFF -DBRAKKENFEL_BENCH=OFF)
cmake -S "$root" -B "$build" "${first[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)" --target brakkenfel
exec "$build/brakkenfel" "$@"
