#!/usr/bin/env bash
# Builds the browser player and the program, then runs the web tests: the module under Node.js and the page in headless Chromium.
# Usage: tools/test-web.sh; BUILD_DIR and WEB_BUILD_DIR pick the folders (default build/ and build-web/).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
web=${WEB_BUILD_DIR:-$root/build-web}
"$root/tools/install-deps.sh" --web-test
"$root/tools/build-web.sh" "$web"
# Configured with the player's folder, so CTest registers the web tests (they need the native program too).
"$root/tools/build.sh" "$build" -DBRAKKENFEL_TESTS=ON -DBRAKKENFEL_WEB_DIR="$web"
ctest --test-dir "$build" -L web --output-on-failure --no-tests=error
