#!/usr/bin/env bash
# Installs what Brakkenfel needs, builds it and starts the arena (arguments go to the program).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"
"$root/tools/build.sh" "$root/build"
exec "$root/build/brakkenfel" "$@"
