#!/usr/bin/env bash
# Installs the Debian 12 packages Brakkenfel needs to build, run and test; skips what is there.
set -euo pipefail

runtime=(build-essential cmake pkg-config libsdl2-dev libsdl2-ttf-dev libfontconfig-dev fonts-dejavu-core)
testing=(googletest libgtest-dev libbenchmark-dev xvfb x11-apps x11-utils xdotool python3 python3-xlib
         imagemagick clang libclang-rt-14-dev valgrind time weston)

wanted=("${runtime[@]}")
[ "${1:-}" = "--test" ] && wanted+=("${testing[@]}")

missing=()
for package in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
