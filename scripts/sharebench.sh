#!/usr/bin/env bash
# Farm sharing figures: the publisher's highest rate against a real Redis,
# and the latency from a logoff on host A to its refusal on host B at a
# steady logoff rate. A and B are two services, each in PID and mount
# namespaces of its own (run as root); Redis is a redis-server on a Unix
# socket in a temporary directory, nothing persisted. Everything started
# here is stopped by pid.
#   --rate N     logoffs per second on A (default 1000)
#   --count N    logoffs sent to A (default 10000)
#   --publish N  logoffs for the publisher's rate (default 500000)
source "$(dirname "$0")/benchstart.sh"
rate=1000 count=10000 publish=500000
lc_bench_options rate count publish -- "$@"

work=$(mktemp -d /tmp/lc-sharebench-XXXXXX)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

# One service per host: the lock the end-to-end tests take.
exec 9>/tmp/VOKLogoffCookieService.tests.lock
flock 9

redis-server --port 0 --unixsocket "$work/redis.sock" --unixsocketperm 700 --save '' \
    --appendonly no --dir "$work" --logfile "$work/redis.log" &
pids+=($!)
until redis-cli -s "$work/redis.sock" ping >/dev/null 2>&1; do sleep 0.05; done
head -c 48 /dev/urandom >"$work/farm.key"
chmod 600 "$work/farm.key"
export VOKLOGOFFSHARE="unix:$work/redis.sock" VOKLOGOFFSHAREKEY="$work/farm.key"
unset VOKTRACELEVEL VOKTRACEDEST

echo "== publisher: $publish logoffs"
VOKLOGOFFSHARESTREAM=bench:publish "$build/bin/share_publish_bench" "$publish"

for host in a b; do
    mkdir -p "$work/$host"
    WA_INSTALL_PATH="$work/$host" VOKLOGOFFSHARESTREAM=bench:latency \
        unshare --pid --fork --mount-proc --kill-child /bin/sh -c '"$0" || exit $?; exec sleep infinity' \
        "$build/bin/VOKLogoffCookieService" >"$work/$host/stdout" 2>"$work/$host/stderr" </dev/null &
    pids+=($!)
done
for host in a b; do
    until [ -S "$work/$host/logoffCookieSocket" ]; do sleep 0.05; done
done
echo "== latency A to B: $count logoffs at $rate per second"
"$build/bin/share_latency_bench" --from "$work/a/logoffCookieSocket" \
    --to "$work/b/logoffCookieSocket" --rate "$rate" --count "$count"

# Adds as fast as the service takes them, sharing on: every add must reach
# the stream (the stream's length grows by the adds answered).
echo "== adds on A as fast as it takes them, sharing on"
before=$(redis-cli -s "$work/redis.sock" XLEN bench:latency)
"$build/bin/logoffcookie" bench --socket "$work/a/logoffCookieSocket" --clients 16 \
    --duration 5 --queries 0 --cookies 100000 --created now+2000
# The queue empties within moments of the last add: wait until the stream
# stops growing.
last=-1
while :; do
    now=$(redis-cli -s "$work/redis.sock" XLEN bench:latency)
    [ "$now" = "$last" ] && break
    last=$now
    sleep 0.5
done
echo "stream grew by $((last - before)) entries"
