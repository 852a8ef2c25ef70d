#!/usr/bin/env bash
# Builds a libFuzzer target with clang, AddressSanitizer and UBSan, and prints its path.
#
# Usage: fuzz/build.sh [BUILD_DIR]   (default: build-fuzz beside the sources)
#   BRAKKENFEL_FUZZ_TARGET=match  the match-file reader (fuzz_match.cpp, corpus fuzz/corpus_match)
#                                 instead of the picture loader
#   BRAKKENFEL_FUZZ_SDL=PREFIX  link SDL from PREFIX (an SDL2 built and installed as a static library
#                               with -fsanitize=address,fuzzer-no-link) instead of the system's, so
#                               the fuzzer also sees and checks SDL's own decoding code
# Then, for example:
#   BUILD_DIR/brakkenfel_fuzz_picture -max_total_time=3600 -rss_limit_mb=2048 -timeout=5 NEW_DIR fuzz/corpus
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-fuzz}
cxx=${CXX_FUZZ:-$(command -v clang++-14 || command -v clang++)}
mkdir -p "$build/obj"

flags=(-std=c++20 -g -O1 -fno-omit-frame-pointer -Wall -Wextra -Wpedantic -Werror -I"$root"
       -fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=all -DBRAKKENFEL_VERSION=\"fuzz\")
if [ -n "${BRAKKENFEL_FUZZ_SDL:-}" ]; then
  sdl_cflags=(-I"$BRAKKENFEL_FUZZ_SDL/include/SDL2" -D_REENTRANT)
  # A debug build of SDL names its library libSDL2d.a.
  sdl_archive=$BRAKKENFEL_FUZZ_SDL/lib/libSDL2.a
  [ -e "$sdl_archive" ] || sdl_archive=$BRAKKENFEL_FUZZ_SDL/lib/libSDL2d.a
  sdl_libs=("$sdl_archive" -lm -ldl -lpthread)
  target=brakkenfel_fuzz_picture_sdl
else
  read -r -a sdl_cflags <<< "$(pkg-config --cflags sdl2)"
  read -r -a sdl_libs <<< "$(pkg-config --libs sdl2)"
  target=brakkenfel_fuzz_picture
fi
entry=fuzz_picture.cpp
if [ "${BRAKKENFEL_FUZZ_TARGET:-picture}" = match ]; then
  entry=fuzz_match.cpp
  target=brakkenfel_fuzz_match
fi

# The core (no SDL), its POSIX backend, the SDL picture loader and the target; nothing of the window is needed.
sources=()
for file in "$root"/app/*.cpp "$root"/sprites/*.cpp "$root"/contest/*.cpp "$root"/bullets/*.cpp \
            "$root"/display/*.cpp "$root"/platform/*.cpp "$root"/score/*.cpp "$root"/replay/*.cpp \
            "$root"/backends/posix/*.cpp "$root"/backends/sdl/SdlPicture.cpp "$root"/backends/sdl/BmpCheck.cpp \
            "$root"/fuzz/$entry; do
  sources+=("$file")
done
objects=()
running=0
for file in "${sources[@]}"; do
  object="$build/obj/$(realpath --relative-to="$root" "$file" | tr / _).o"
  objects+=("$object")
  if [ ! -e "$object" ] || [ "$file" -nt "$object" ]; then
    "$cxx" "${flags[@]}" "${sdl_cflags[@]}" -c "$file" -o "$object" &
    running=$((running + 1))
    if [ "$running" -ge 2 ]; then
      wait -n
      running=$((running - 1))
    fi
  fi
done
# A failed compile leaves no object behind, so the link below reports it if this wait does not.
wait
"$cxx" "${flags[@]}" -fsanitize=fuzzer "${objects[@]}" "${sdl_libs[@]}" -o "$build/$target"
echo "$build/$target"
