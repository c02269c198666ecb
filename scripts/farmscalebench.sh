#!/usr/bin/env bash
# A farm at scale: H real hosts, each a service in PID, mount and UTS
# namespaces of its own (run as root), sharing through a Redis primary with two
# replicas (redis-server on free 127.0.0.1 ports, nothing persisted). One
# host records L logoffs a second; a probe logoff now and then is asked of
# every other host until each refuses it (farm_fanout_bench). Prints Redis's
# processor time per delivered entry on the primary and on each replica
# (INFO cpu, user + system, over the run, divided by the entries added times
# the hosts that read them), the entries each node served per XREAD, and the
# time until every host refused a probe (p50, p99, max). Takes the host-wide
# lock of the end-to-end tests; everything started here is stopped by pid.
#   --hosts N      hosts (default 40)
#   --rate N       logoffs per second on the first host (default 500)
#   --count N      logoffs sent (default 10000)
#   --probes N     of them probes (default 50)
#   --mode M       primary: hosts read from the primary (redis://);
#                  replicas: through three sentinels (sentinel://), hosts
#                  read from the replicas (default primary)
#   --batch-ms N   VOKLOGOFFSHAREBATCHMS, the receivers' wait after a short
#                  read; 0 reads again at once (default 5)
source "$(dirname "$0")/benchstart.sh"
hosts=40 rate=500 count=10000 probes=50 mode=primary batch_ms=5
lc_bench_options hosts rate count probes mode batch-ms -- "$@"
case "$mode" in
    primary | replicas) ;;
    *)
        echo "--mode is primary or replicas" >&2
        exit 2
        ;;
esac
for target in VOKLogoffCookieService farm_fanout_bench; do
    test -x "$build/bin/$target" || cmake --build "$build" --target "$target" >/dev/null
done

lc_bench_work /tmp/lc-farmscale-XXXXXX
lc_bench_host_lock

info() { # PORT SECTION
    redis-cli -p "$1" INFO "$2" | tr -d '\r'
}
cpu_seconds() { # PORT
    info "$1" cpu | awk -F: '/^used_cpu_(sys|user):/ {s += $2} END {printf "%.6f\n", s}'
}
xread_calls() { # PORT
    info "$1" commandstats | sed -n 's/^cmdstat_xread:calls=\([0-9]*\),.*/\1/p' | grep . || echo 0
}

nodes=(primary replica1 replica2)
declare -A port
for node in "${nodes[@]}"; do
    port[$node]=$(lc_free_port)
    mkdir -p "$work/$node"
    replicaof=()
    [ "$node" = primary ] || replicaof=(--replicaof 127.0.0.1 "${port[primary]}")
    redis-server --port "${port[$node]}" --bind 127.0.0.1 --save '' --appendonly no \
        --dir "$work/$node" --logfile "$work/$node/redis.log" "${replicaof[@]}" &
    pids+=($!)
    until redis-cli -p "${port[$node]}" ping >/dev/null 2>&1; do sleep 0.05; done
done
for node in replica1 replica2; do
    until info "${port[$node]}" replication | grep -qx 'master_link_status:up'; do sleep 0.1; done
done

if [ "$mode" = replicas ]; then
    sentinels=()
    for n in 1 2 3; do
        sentinel_port=$(lc_free_port)
        mkdir -p "$work/sentinel$n"
        printf 'port %s\nbind 127.0.0.1\ndir %s\nsentinel monitor farm 127.0.0.1 %s 2\n' \
            "$sentinel_port" "$work/sentinel$n" "${port[primary]}" >"$work/sentinel$n/sentinel.conf"
        redis-server "$work/sentinel$n/sentinel.conf" --sentinel --logfile "$work/sentinel$n/log" &
        pids+=($!)
        sentinels+=("127.0.0.1:$sentinel_port")
    done
    # Until every sentinel lists both replicas: the hosts ask them for these.
    for address in "${sentinels[@]}"; do
        until [ "$(redis-cli -p "${address#*:}" SENTINEL REPLICAS farm 2>/dev/null | grep -c '^name$')" -ge 2 ]; do
            sleep 0.2
        done
    done
    endpoint="sentinel://$(
        IFS=,
        echo "${sentinels[*]}"
    )/farm"
else
    endpoint="redis://127.0.0.1:${port[primary]}"
fi

head -c 48 /dev/urandom >"$work/farm.key"
chmod 600 "$work/farm.key"
export VOKLOGOFFSHARE="$endpoint" VOKLOGOFFSHAREKEY="$work/farm.key"
export VOKLOGOFFSHARESTREAM=bench:scale VOKLOGOFFSHAREBATCHMS="$batch_ms"
unset VOKTRACELEVEL VOKTRACEDEST

echo "== $hosts hosts, mode $mode, batch wait $batch_ms ms, $endpoint"
for ((h = 0; h < hosts; ++h)); do
    mkdir -p "$work/h$h"
    # A host name of its own too: a host's choice among the replicas hashes it.
    lc_service_in_namespaces "$work/h$h" "$build/bin/VOKLogoffCookieService" "farmhost$h"
    pids+=("$lc_started")
done
to=()
for ((h = 0; h < hosts; ++h)); do
    until [ -S "$work/h$h/logoffCookieSocket" ]; do sleep 0.05; done
    [ "$h" = 0 ] || to+=(--to "$work/h$h/logoffCookieSocket")
done
fanout() {
    "$build/bin/farm_fanout_bench" --from "$work/h0/logoffCookieSocket" "${to[@]}" "$@"
}
# Until one logoff reached every host: all of them read the stream.
fanout --rate 1 --count 1 --probes 1 >/dev/null

declare -A cpu_before xread_before
for node in "${nodes[@]}"; do
    cpu_before[$node]=$(cpu_seconds "${port[$node]}")
    xread_before[$node]=$(xread_calls "${port[$node]}")
done
length_before=$(redis-cli -p "${port[primary]}" XLEN bench:scale)
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
fanout --rate "$rate" --count "$count" --probes "$probes" || echo "(some probes missed or adds failed)"
entries=$(($(redis-cli -p "${port[primary]}" XLEN bench:scale) - length_before))
deliveries=$((entries * hosts))
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "entries $entries, deliveries $deliveries (each entry read by all $hosts hosts)"
all_reads=0
for node in "${nodes[@]}"; do
    cpu=$(cpu_seconds "${port[$node]}")
    reads=$(($(xread_calls "${port[$node]}") - xread_before[$node]))
    all_reads=$((all_reads + reads))
    awk -v node="$node" -v a="${cpu_before[$node]}" -v b="$cpu" -v d="$deliveries" -v r="$reads" \
        'BEGIN { printf "%-8s  cpu %.2f s  %.2f us per delivery  XREAD %d\n", node, b - a, (b - a) * 1e6 / d, r }'
done
awk -v d="$deliveries" -v r="$all_reads" \
    'BEGIN { printf "entries per XREAD, all nodes: %.1f\n", (r > 0 ? d / r : 0) }'
