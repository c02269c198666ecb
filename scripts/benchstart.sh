#!/usr/bin/env bash
# Sourced first by the benchmark scripts: strict mode, the source root as the
# working directory, `build` the build directory (LC_BUILD_DIR, default
# build), their option parser and the start, wait and stop of what they run:
#   lc_bench_options NAME... -- "$@"
# takes each "--NAME VALUE" among the arguments into the shell variable NAME
# (a dash in NAME stands for an underscore in the variable: --fill-clients
# sets fill_clients); -h or --help prints the script's opening comment.
# Anything else is refused with status 2, the scripts' usage error, saying
# "unknown option ARG", or "BENCH: unknown argument 'ARG'" when the script
# set lc_bench_name=BENCH.
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
        if [ "$1" = -h ] || [ "$1" = --help ]; then
            # The comment under the first line, without its leading "# ".
            sed -n '2,/^[^#]/p' "$0" | sed '/^[^#]/d; s/^# \{0,1\}//'
            exit 0
        fi
        known=""
        for name in "${names[@]}"; do
            [ "$1" != "--$name" ] || known="$name"
        done
        if [ -z "$known" ]; then
            if [ -n "${lc_bench_name:-}" ]; then
                echo "$lc_bench_name: unknown argument '$1'" >&2
            else
                echo "unknown option $1" >&2
            fi
            exit 2
        fi
        printf -v "${known//-/_}" '%s' "$2"
        shift 2
    done
}

# One service per host: waits for the lock the end-to-end tests take, and
# holds it until the script ends.
lc_bench_host_lock() {
    exec 9>/tmp/VOKLogoffCookieService.tests.lock
    flock 9
}

# lc_bench_work TEMPLATE: a fresh directory `work` (mktemp -d TEMPLATE),
# removed at the exit after every process whose pid the script put in `pids`
# is killed and waited for.
pids=()
lc_bench_work() {
    work="$(mktemp -d "$1")"
    trap lc_bench_end EXIT
}
lc_bench_end() {
    local pid
    for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}

# lc_free_port: a TCP port free now on 127.0.0.1.
lc_free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# lc_stop_by_pid PID [SIGNAL]: signals a process this script started (TERM
# unless told) and waits for its end; nothing for an empty PID.
lc_stop_by_pid() {
    if [ -n "$1" ]; then
        kill "-${2:-TERM}" "$1" 2>/dev/null || true
        wait "$1" 2>/dev/null || true
    fi
}

# lc_wait_for_socket PATH: true once PATH is a socket, false after 10 s.
lc_wait_for_socket() {
    local tries=200
    while [ ! -S "$1" ] && [ "$tries" -gt 0 ]; do
        sleep 0.05
        tries=$((tries - 1))
    done
    [ -S "$1" ]
}

# lc_child_of PID: the only child of a process, waited for a little: the
# process tree of a service in its namespace builds up after the socket file
# appears.
lc_child_of() {
    local tries=100 child=""
    while [ -z "$child" ] && [ "$tries" -gt 0 ]; do
        child="$(pgrep -P "$1" | head -n 1 || true)"
        [ -n "$child" ] || sleep 0.05
        tries=$((tries - 1))
    done
    echo "$child"
}

# lc_service_in_namespaces DIR SERVICE [HOSTNAME]: starts the executable
# SERVICE with WA_INSTALL_PATH=DIR and tracing off, in PID and mount
# namespaces of its own (and a UTS one named HOSTNAME, when given), so that
# its single-instance check finds no other whatever else runs on the host;
# its output goes to DIR/stdout and DIR/stderr. The namespace's first process
# runs the launcher and then sleeps, as the monitor's parent; it and with it
# the whole namespace end when the unshare process, whose pid is left in
# `lc_started`, is killed.
lc_service_in_namespaces() {
    local dir="$1" service uts=() hostname=()
    service="$(readlink -f "$2")"
    if [ -n "${3:-}" ]; then
        uts=(--uts)
        hostname=("$3")
    fi
    # shellcheck disable=SC2016  # "$0" and "$1" are for the inner shell
    env -u VOKTRACELEVEL -u VOKTRACEDEST WA_INSTALL_PATH="$dir" \
        unshare --pid "${uts[@]}" --fork --mount-proc --kill-child \
        /bin/sh -c '[ -z "$1" ] || hostname "$1" || exit $?; "$0" || exit $?; exec sleep infinity' \
        "$service" "${hostname[@]}" >"$dir/stdout" 2>"$dir/stderr" </dev/null &
    lc_started=$!
}
