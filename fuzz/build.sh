#!/usr/bin/env bash
# Builds the libFuzzer picture target with clang, AddressSanitizer and UBSan, and prints its path.
# Usage: fuzz/build.sh [BUILD_DIR]   (default: build-fuzz beside the sources)
# Then, for example: BUILD_DIR/fuzz/brakkenfel_fuzz_picture -max_total_time=3600 -rss_limit_mb=2048 \
#   -timeout=5 -jobs=1 NEW_INPUTS_DIR fuzz/corpus
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-fuzz}
cxx=${CXX_FUZZ:-$(command -v clang++-14 || command -v clang++)}
cmake -S "$root" -B "$build" -G "Unix Makefiles" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link" -DBRAKKENFEL_SANITIZE=ON -DBRAKKENFEL_FUZZ=ON \
  -DBRAKKENFEL_TESTS=OFF -DBRAKKENFEL_BENCH=OFF >/dev/null
cmake --build "$build" --target brakkenfel_fuzz_picture -j2 >/dev/null
echo "$build/fuzz/brakkenfel_fuzz_picture"
