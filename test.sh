#!/usr/bin/env bash
# Builds everything and runs every test; exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/setup.sh
lc_install_missing
lc_build
cd "${LC_BUILD_DIR:-build}"
ctest --output-on-failure -j "$(nproc)" "$@"
