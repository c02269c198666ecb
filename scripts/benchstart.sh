#!/usr/bin/env bash
# Sourced first by the benchmark scripts: strict mode, the source root as the
# working directory, `build` the build directory (LC_BUILD_DIR, default
# build), and their option parser:
#   lc_bench_options NAME... -- "$@"
# takes each "--NAME VALUE" among the arguments into the shell variable NAME;
# anything else is refused with status 2, the scripts' usage error.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
build="${LC_BUILD_DIR:-build}"

lc_bench_options() {
    local names=()
    while [ "$1" != "--" ]; do
        names+=("$1")
        shift
    done
    shift
    local known name
    while [ $# -gt 0 ]; do
        known=""
        for name in "${names[@]}"; do
            [ "$1" != "--$name" ] || known="$name"
        done
        if [ -z "$known" ]; then
            echo "unknown option $1" >&2
            exit 2
        fi
        printf -v "$known" '%s' "$2"
        shift 2
    done
}
