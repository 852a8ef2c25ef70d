#!/usr/bin/env bash
# Builds the browser player into build-web/ (or the folder given) with Debian's emscripten, installing it when missing.
# Usage: tools/build-web.sh [BUILD_DIR]; the page and all it loads end in BUILD_DIR/player/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-web}
"$root/tools/install-deps.sh" --web
# emcc's own scripts need Debian's node modules, whichever node comes first on PATH.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
emcmake cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBRAKKENFEL_WERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc)"
echo "The player is in $build/player/ (serve it: python3 -m http.server -d $build/player)"
