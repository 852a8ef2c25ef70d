#!/usr/bin/env bash
# Installs the Debian 12 packages Brakkenfel needs to build and run (and with --test, to test); skips what is there.
# Usage: tools/install-deps.sh [--test | --web | --web-test]
set -euo pipefail

# Building and running the arena: all tools/run.sh needs on a fresh machine.
runtime=(
  build-essential cmake pkg-config
  libsdl2-dev libsdl2-ttf-dev libfontconfig-dev libx11-dev fonts-dejavu-core
)

# The tests and benchmarks, on top of the above: all tools/test.sh and .ci/run need.
testing=(
  googletest libgtest-dev libbenchmark-dev
  python3 python3-xlib
  xvfb x11-apps x11-utils xdotool imagemagick
  clang libclang-rt-14-dev valgrind time
  weston
  chromium  # the league page drawn in headless Chromium (tests/e2e/test_tournament.py)
  desktop-file-utils appstream man-db
  nodejs default-jre-headless  # contestants in other runtimes under the sandbox (tests/e2e/test_sandbox.py)
)

# The browser player and its tests (tools/build-web.sh, tools/test-web.sh): Debian's emscripten, no
# ports; Node.js runs the module outside a browser; Chromium with its driver runs the page.
web=(
  emscripten nodejs cmake make
)
web_testing=(
  chromium-driver python3-selenium  # chromium itself is in the test list above
)

wanted=("${runtime[@]}")
case "${1:-}" in
  "") ;;
  --test) wanted+=("${testing[@]}") ;;
  --web) wanted=("${web[@]}") ;;
  --web-test) wanted+=("${testing[@]}" "${web[@]}" "${web_testing[@]}") ;;
  *) echo "usage: $0 [--test | --web | --web-test]" >&2; exit 2 ;;
esac

missing=()
for package in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
