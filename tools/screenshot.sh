#!/bin/sh
# Makes docs/screenshot.png, docs/screenshot-analysis.png, docs/screenshot-panel.png and
# docs/screenshot-scaled.png: runs the window, keys and watch tests on a private X server and keeps the
# screenshots they checked.
# Usage: tools/screenshot.sh [BUILD_DIR]   (default: build)
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$here/build"}
BRAKKENFEL_SCREENSHOT="$here/docs/screenshot.png" "$here/tests/e2e/test_window.py" "$build/brakkenfel"
BRAKKENFEL_ANALYSIS_SCREENSHOT="$here/docs/screenshot-analysis.png" "$here/tests/e2e/test_keys.py" "$build/brakkenfel"
BRAKKENFEL_PANEL_SCREENSHOT="$here/docs/screenshot-panel.png" \
BRAKKENFEL_SCALED_SCREENSHOT="$here/docs/screenshot-scaled.png" "$here/tests/e2e/test_watch.py" "$build/brakkenfel"
echo "wrote $here/docs/screenshot.png, screenshot-analysis.png, screenshot-panel.png and screenshot-scaled.png"
