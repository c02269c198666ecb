#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build and test, then
# configures and builds. Sourced by run.sh and test.sh.
#   LC_BUILD_DIR   build directory (default: build)
#   LC_CMAKE_ARGS  extra arguments for the configure step
set -euo pipefail

lc_install_missing() {
    local missing=()
    command -v cmake >/dev/null 2>&1 || missing+=(cmake)
    command -v g++ >/dev/null 2>&1 || missing+=(g++)
    command -v ninja >/dev/null 2>&1 || missing+=(ninja-build)
    command -v pkg-config >/dev/null 2>&1 || missing+=(pkg-config)
    [ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
    [ -f /usr/include/gmock/gmock.h ] || missing+=(libgmock-dev)
    [ -f /usr/include/benchmark/benchmark.h ] || missing+=(libbenchmark-dev)
    # The metrics tests read the file with the format's reference parser, the
    # manual page tests render the pages.
    /usr/bin/python3 -c 'import prometheus_client' >/dev/null 2>&1 ||
        missing+=(python3-prometheus-client)
    command -v groff >/dev/null 2>&1 || missing+=(groff-base)
    # Farm sharing: the client library to build, the server its tests run.
    [ -f /usr/include/hiredis/hiredis.h ] || missing+=(libhiredis-dev)
    # Sharing over TLS, and the certificates its tests make.
    [ -f /usr/include/openssl/ssl.h ] || missing+=(libssl-dev)
    command -v openssl >/dev/null 2>&1 || missing+=(openssl)
    command -v redis-server >/dev/null 2>&1 || missing+=(redis-server)
    # The metrics file is scraped by the node exporter operators run.
    command -v prometheus-node-exporter >/dev/null 2>&1 || missing+=(prometheus-node-exporter)
    # The packaged alerting rules are checked and tested with promtool.
    command -v promtool >/dev/null 2>&1 || missing+=(prometheus)
    # The Debian package is checked as Debian checks packages.
    command -v lintian >/dev/null 2>&1 || missing+=(lintian)
    # The sources are checked against the root .clang-format (scripts/formatcheck.sh).
    command -v clang-format >/dev/null 2>&1 || missing+=(clang-format)
    if [ "${#missing[@]}" -gt 0 ]; then
        echo "installing: ${missing[*]}"
        local sudo=""
        [ "$(id -u)" -eq 0 ] || sudo="sudo"
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
    fi
}

lc_build() {
    local build_dir="${LC_BUILD_DIR:-build}"
    # shellcheck disable=SC2086
    cmake -S . -B "$build_dir" -G Ninja ${LC_CMAKE_ARGS:-} >/dev/null
    cmake --build "$build_dir" "$@"
}
