#!/bin/sh
# Makes docs/screenshot.png and docs/screenshot-analysis.png: runs the window and keys tests on a private X
# server and keeps the screenshots they checked.
# Usage: tools/screenshot.sh [BUILD_DIR]   (default: build)
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$here/build"}
BRAKKENFEL_SCREENSHOT="$here/docs/screenshot.png" "$here/tests/e2e/test_window.py" "$build/brakkenfel"
BRAKKENFEL_ANALYSIS_SCREENSHOT="$here/docs/screenshot-analysis.png" "$here/tests/e2e/test_keys.py" "$build/brakkenfel"
echo "wrote $here/docs/screenshot.png and $here/docs/screenshot-analysis.png"
