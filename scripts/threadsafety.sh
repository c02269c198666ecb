#!/usr/bin/env bash
# Builds the libraries whose locks carry clang's thread-safety attributes with
# clang and -Wthread-safety -Werror in build-threadsafety/: a member read or
# written without the hold that guards it, or a function called without the
# hold it requires, fails the build.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v clang++ >/dev/null 2>&1 || {
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq clang
}
build=build-threadsafety
cmake -S . -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_CXX_FLAGS="-Wthread-safety -Werror" >/dev/null
cmake --build "$build" -j "$(nproc)" --target lc_threads lc_collections lc_cache
echo "thread-safety analysis clean"
