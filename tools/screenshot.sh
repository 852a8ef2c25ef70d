#!/bin/sh
# Makes docs/screenshot.png: runs the window test on a private X server and keeps the screenshot it checked.
# Usage: tools/screenshot.sh [BUILD_DIR]   (default: build)
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$here/build"}
BRAKKENFEL_SCREENSHOT="$here/docs/screenshot.png" "$here/tests/e2e/test_window.py" "$build/brakkenfel"
echo "wrote $here/docs/screenshot.png"
