#!/usr/bin/env bash
# Builds the Debian package of this checkout and checks it with lintian; installs the packaging tools and build dependencies it lacks.
# Usage: tools/build-deb.sh [OUTPUT_DIR]   (default build-deb/; as root, or a user with sudo)
# The checkout's files (tracked files when it is a git checkout) are copied to OUTPUT_DIR/src, with a
# web player built beforehand in build-web/player if there is one; debian/changelog is written there
# from the version and release date in CMakeLists.txt, the one place they are kept. The .deb, the
# .changes and lintian's report (lintian.txt) land in OUTPUT_DIR; the copy is removed after a good
# build. DEB_BUILD_OPTIONS is honoured (nocheck skips the tests).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(mkdir -p "${1:-$root/build-deb}" && cd "${1:-$root/build-deb}" && pwd)
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

tools=(dpkg-dev debhelper lintian)
missing=()
for package in "${tools[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "build-deb: installing ${missing[*]}"
  $sudo apt-get update -qq
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

src=$out/src
rm -rf "$src" "$out"/brakkenfel_* "$out"/brakkenfel-dbgsym_*
mkdir -p "$src"
if git -C "$root" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  (cd "$root" && git ls-files -z | tar --null -T - -c) | tar -x -C "$src"
else
  tar -C "$root" -c --exclude='./build*' --exclude='./obj-*' . | tar -x -C "$src"
fi
if compgen -G "$root/build-web/player/*.html" >/dev/null; then
  mkdir -p "$src/build-web"
  cp -a "$root/build-web/player" "$src/build-web/"
  echo "build-deb: with the web player from build-web/player"
fi

version=$(sed -n 's/^project(Brakkenfel VERSION \([0-9][0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
released=$(sed -n 's/^set(BRAKKENFEL_RELEASE_DATE \([0-9-]*\))/\1/p' "$root/CMakeLists.txt")
[ -n "$version" ] && [ -n "$released" ] ||
  { echo "build-deb: no version or release date found in CMakeLists.txt" >&2; exit 1; }
maintainer=$(sed -n 's/^Maintainer: //p' "$src/debian/control")
cat >"$src/debian/changelog" <<EOF
brakkenfel ($version) unstable; urgency=medium

  * Release $version.

 -- $maintainer  $(LC_ALL=C date -u -R -d "$released")
EOF

cd "$src"
if ! dpkg-checkbuilddeps 2>/dev/null; then
  echo "build-deb: installing the build dependencies"
  $sudo apt-get update -qq
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get build-dep -y -qq --no-install-recommends "$src"
fi
export DEB_BUILD_OPTIONS="${DEB_BUILD_OPTIONS:-} parallel=$(nproc)"
dpkg-buildpackage -us -uc -b
cd "$out"
changes=(brakkenfel_"$version"_*.changes)
echo "build-deb: lintian"
status=0
lintian -I --pedantic --fail-on error,warning,info,pedantic "${changes[@]}" >lintian.txt 2>&1 || status=$?
cat lintian.txt
[ "$status" -eq 0 ] || { echo "build-deb: lintian reported the tags above (status $status)" >&2; exit 1; }
# The copy and its build tree are kept only when something failed, to look into.
rm -rf "$src"
for deb in "$out"/brakkenfel_*.deb; do
  echo "build-deb: $deb, $(stat -c %s "$deb") bytes"
  dpkg-deb -f "$deb" Installed-Size Depends | sed 's/^/  /'
done
