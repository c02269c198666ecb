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
#   --tls 0|1    then the same over TCP in clear and over TLS, side by side
#                against one Redis serving both, with the connection's time
#                and memory and the worker's resident memory (default 1)
source "$(dirname "$0")/benchstart.sh"
rate=1000 count=10000 publish=500000 tls=1
lc_bench_options rate count publish tls -- "$@"

lc_bench_work /tmp/lc-sharebench-XXXXXX
lc_bench_host_lock

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
    VOKLOGOFFSHARESTREAM=bench:latency \
        lc_service_in_namespaces "$work/$host" "$build/bin/VOKLogoffCookieService"
    pids+=("$lc_started")
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
[ "$tls" != 0 ] || exit 0

# The worker of the host whose install directory is $1: the service process
# whose parent is the service too (the monitor).
worker_rss_kb() {
    local binary pid parent
    binary=$(readlink -f "$build/bin/VOKLogoffCookieService")
    for pid in $(ls /proc | grep -E '^[0-9]+$'); do
        [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" = "$binary" ] || continue
        tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WA_INSTALL_PATH=$1" || continue
        parent=$(awk '/^PPid:/ {print $2}' "/proc/$pid/status")
        [ "$(readlink "/proc/$parent/exe" 2>/dev/null)" = "$binary" ] || continue
        awk '/^VmRSS:/ {print $2}' "/proc/$pid/status"
        return
    done
    echo "?"
}

echo "== TLS against clear: certificates (EC P-256) and one Redis serving both"
(
    cd "$work" && umask 077
    key="-newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes"
    openssl req -x509 $key -keyout ca.key -out ca.crt -subj /CN=bench-ca -days 1 2>/dev/null
    openssl req $key -keyout server.key -out server.csr -subj /CN=bench-redis 2>/dev/null
    printf 'subjectAltName=IP:127.0.0.1\n' >server.ext
    openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 1 \
        -extfile server.ext -out server.crt 2>/dev/null
)
clear_port=$(lc_free_port)
tls_port=$(lc_free_port)
mkdir -p "$work/tcp"
redis-server --port "$clear_port" --tls-port "$tls_port" --bind 127.0.0.1 \
    --tls-cert-file "$work/server.crt" --tls-key-file "$work/server.key" \
    --tls-ca-cert-file "$work/ca.crt" --tls-auth-clients no --save '' --appendonly no \
    --dir "$work/tcp" --logfile "$work/tcp/redis.log" &
pids+=($!)
until redis-cli -p "$clear_port" ping >/dev/null 2>&1; do sleep 0.05; done
export VOKLOGOFFSHARETLSCA="$work/ca.crt"

for mode in clear tls; do
    if [ "$mode" = clear ]; then
        VOKLOGOFFSHARE="redis://127.0.0.1:$clear_port"
        unset VOKLOGOFFSHARETLSCA
    else
        VOKLOGOFFSHARE="rediss://127.0.0.1:$tls_port"
        export VOKLOGOFFSHARETLSCA="$work/ca.crt"
    fi
    export VOKLOGOFFSHARE
    echo "== [$mode] publisher: $publish logoffs"
    VOKLOGOFFSHARESTREAM="bench:publish-$mode" "$build/bin/share_publish_bench" "$publish"
    echo "== [$mode] connections"
    "$build/bin/share_connect_bench" 500 200
    hosts=()
    for host in "a-$mode" "b-$mode"; do
        mkdir -p "$work/$host"
        VOKLOGOFFSHARESTREAM="bench:latency-$mode" \
            lc_service_in_namespaces "$work/$host" "$build/bin/VOKLogoffCookieService"
        pids+=("$lc_started")
        hosts+=("$lc_started")
    done
    for host in "a-$mode" "b-$mode"; do
        until [ -S "$work/$host/logoffCookieSocket" ]; do sleep 0.05; done
    done
    echo "== [$mode] latency A to B: $count logoffs at $rate per second"
    "$build/bin/share_latency_bench" --from "$work/a-$mode/logoffCookieSocket" \
        --to "$work/b-$mode/logoffCookieSocket" --rate "$rate" --count "$count"
    echo "== [$mode] worker resident memory after the run: A $(worker_rss_kb "$work/a-$mode") kB," \
        "B $(worker_rss_kb "$work/b-$mode") kB"
    for pid in "${hosts[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
    for pid in "${hosts[@]}"; do wait "$pid" 2>/dev/null || true; done
done
