#!/usr/bin/env bash
# Builds the Debian package from what ships alone: no tests, no benchmarks,
# installed under /usr (so libraries go to the multiarch directory), binaries
# stripped and linked with every relocation resolved at start and then made
# read-only. Prints the path of the .deb.
#   scripts/package.sh [BUILD_DIR]   default: build-package
#   LC_CMAKE_ARGS  extra arguments for the configure step (a compiler launcher)
set -euo pipefail
source_dir="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="${1:-$source_dir/build-package}"
# shellcheck disable=SC2086
cmake -S "$source_dir" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_INSTALL_PREFIX=/usr -DLC_BUILD_TESTS=OFF -DLC_BUILD_BENCH=OFF \
    "-DCMAKE_EXE_LINKER_FLAGS=-Wl,-z,relro,-z,now" "-DCMAKE_SHARED_LINKER_FLAGS=-Wl,-z,relro,-z,now" \
    ${LC_CMAKE_ARGS:-} >/dev/null
cmake --build "$build_dir" >/dev/null
rm -f "$build_dir"/*.deb
(cd "$build_dir" && cpack -G DEB >/dev/null)
ls "$build_dir"/*.deb
