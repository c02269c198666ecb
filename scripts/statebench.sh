#!/usr/bin/env bash
# The warm restart on the real service: fills the worker with cookies through
# its socket (1,000,000 by default), reads the worker's resident memory,
# stops the worker the way the packaged unit does (SIGTERM to the worker, so
# it saves the state), starts again from the state file and reads the
# worker's memory after the warm start. Run it in a PID namespace of its own
# (unshare --pid --fork --mount-proc) when another instance may run; the
# services started here are stopped by pid.
#   --cookies N   cookies added, a multiple of 100000 (default 1000000)
source "$(dirname "$0")/benchstart.sh"
cookies=1000000
lc_bench_options cookies -- "$@"

work=$(mktemp -d "${STATE_BENCH_DIR:-$PWD/$build}/statebench-XXXXXX")
monitor=""
cleanup() {
    if [ -n "$monitor" ]; then kill -KILL "$monitor" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT
export WA_INSTALL_PATH="$work" VOKLOGOFFSTATE="$work/state"
unset VOKTRACELEVEL VOKTRACEDEST

start() {
    # Monitor and worker keep standard output open: read the pid line from a
    # file once the launcher has ended.
    "$build/bin/VOKLogoffCookieService" >"$work/stdout" 2>>"$work/stderr"
    monitor=$(sed -n 2p "$work/stdout")
    "$build/bin/logoffcookie" health --timeout 10000 >/dev/null
    worker=$(pgrep -P "$monitor")
}
resident() { awk '/^VmRSS/ { print $2 " kB" }' "/proc/$worker/status"; }

start
created=$(( $(date +%s) + 100000 ))
for (( batch = 0; batch < cookies / 100000; batch++ )); do
    # Distinct creation times make distinct cookies of the same texts.
    "$build/bin/logoffcookie" bench --clients 4 --queries 0 --prefill --cookies 100000 \
        --requests 1 --created $(( created + batch )) --quiet >/dev/null
done
echo "before the stop: worker $(resident)"

began=$(date +%s%N)
kill -TERM "$worker"
while kill -0 "$monitor" 2>/dev/null; do sleep 0.05; done
echo "stop took $(( ($(date +%s%N) - began) / 1000000 )) ms (the worker's second included)"
echo "state file: $(stat -c %s "$VOKLOGOFFSTATE") bytes"

began=$(date +%s%N)
start
echo "warm start until the first answer: $(( ($(date +%s%N) - began) / 1000000 )) ms"
echo "after the warm start: worker $(resident)"
grep -E "^(state saved|restarted warm|started cold)" "$work/stderr"
kill -TERM "$worker"
while kill -0 "$monitor" 2>/dev/null; do sleep 0.05; done
monitor=""
