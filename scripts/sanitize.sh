#!/usr/bin/env bash
# Builds the whole suite under a sanitizer in its own build directory and runs
# it, failing on any report, from the test binaries and from the service
# processes they start alike.
#   scripts/sanitize.sh address   # AddressSanitizer with UndefinedBehaviorSanitizer
#   scripts/sanitize.sh thread    # ThreadSanitizer
set -euo pipefail
cd "$(dirname "$0")/.."
mode="${1:?usage: scripts/sanitize.sh address|thread [ctest arguments]}"
shift
source scripts/setup.sh
lc_install_missing

export LC_BUILD_DIR="build-$mode"
export LC_CMAKE_ARGS="-DLC_SANITIZE=$mode -DLC_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo"
lc_build

# Every process writes its reports to files here, so that a report from a
# service process started by a test is not lost with that process's stderr.
reports="$PWD/$LC_BUILD_DIR/sanitizer-reports"
rm -rf "$reports"
mkdir -p "$reports"
export ASAN_OPTIONS="log_path=$reports/asan:detect_leaks=1:abort_on_error=0:exitcode=66"
export UBSAN_OPTIONS="log_path=$reports/ubsan:print_stacktrace=1:halt_on_error=1:exitcode=66"
export TSAN_OPTIONS="log_path=$reports/tsan:halt_on_error=0:exitcode=66:second_deadlock_stack=1"

status=0
(cd "$LC_BUILD_DIR" && ctest --output-on-failure -j "$(nproc)" "$@") || status=$?
if compgen -G "$reports/*" >/dev/null; then
    echo "sanitizer reports ($mode):"
    for report in "$reports"/*; do
        echo "== $report"
        head -n 80 "$report"
    done
    status=1
fi
exit "$status"
