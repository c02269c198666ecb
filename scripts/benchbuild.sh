#!/usr/bin/env bash
# Builds the benchmarks in a configuration without the tests, in
# build-bench/, so that a benchmark leaning on something only the tests
# define is found here rather than on an operator's machine.
#   scripts/benchbuild.sh
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
lc_install_missing
export LC_BUILD_DIR=build-bench
export LC_CMAKE_ARGS="-DLC_BUILD_TESTS=OFF -DLC_BUILD_BENCH=ON"
lc_build -j "$(nproc)"
echo "benchmarks built without the tests"
