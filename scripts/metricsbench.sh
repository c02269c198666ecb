#!/usr/bin/env bash
# A query's cost with the service's metrics off and on, measured from
# outside: the service is started without VOKLOGOFFMETRICS and with it, in
# turn, and loaded by `logoffcookie bench` each time (one connection per
# query, as agents do). Prints each run's throughput and p99, then the medians
# and the ratio on/off.
#
#   scripts/metricsbench.sh [--runs N] [--duration SECONDS] [--clients C]
#
# Uses the executables in ${LC_BUILD_DIR:-build}/bin; build first. Waits for
# the host-wide lock of the end-to-end tests: only one service runs per host.
source "$(dirname "$0")/benchstart.sh"
bin="$build/bin"
runs=3
duration=5
clients=16
lc_bench_name=metricsbench
lc_bench_options runs duration clients -- "$@"
lc_bench_host_lock

work="$(mktemp -d /tmp/metricsbench.XXXXXX)"
monitor=""
stop_service() {
    if [ -n "$monitor" ]; then
        local worker
        worker="$(pgrep -P "$monitor" || true)"
        # The worker first, so it ends in order; then wait for the monitor.
        [ -n "$worker" ] && kill -TERM "$worker" 2>/dev/null || true
        while kill -0 "$monitor" 2>/dev/null; do sleep 0.1; done
        monitor=""
    fi
}
trap 'stop_service; rm -rf "$work"' EXIT

# run <off|on>: one start, one load; prints "throughput p99_us".
run() {
    local mode="$1" install="$work/$1"
    rm -rf "$install" && mkdir -p "$install"
    local env=(WA_INSTALL_PATH="$install")
    [ "$mode" = on ] && env+=(VOKLOGOFFMETRICS="$install/metrics.prom")
    # The monitor and worker keep standard output open: read the two lines,
    # never to its end.
    monitor="$(env "${env[@]}" "$bin/VOKLogoffCookieService" 2>/dev/null | head -n 2 | tail -n 1)"
    # The load waits for the socket itself (--socket-wait).
    env WA_INSTALL_PATH="$install" "$bin/logoffcookie" bench --clients "$clients" \
        --duration "$duration" --tsv --quiet --socket-wait 5000 >"$install/tsv"
    stop_service
    awk -F'\t' '{ print $5, $8 }' "$install/tsv"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "load: $(uptime)"
printf '%-4s %-4s %14s %10s\n' run mode "queries/s" "p99 us"
for ((i = 1; i <= runs; i++)); do
    # Turn about, so neither mode always runs on the heels of the other.
    order="off on"
    [ $((i % 2)) -eq 0 ] && order="on off"
    for mode in $order; do
        read -r rate p99 < <(run "$mode")
        printf '%-4s %-4s %14s %10s\n' "$i" "$mode" "$rate" "$p99"
        echo "$rate" >>"$work/$mode.rate"
        echo "$p99" >>"$work/$mode.p99"
    done
done
off="$(median <"$work/off.rate")"
on="$(median <"$work/on.rate")"
echo "median queries/s: off $off, on $on, on/off $(awk -v a="$on" -v b="$off" 'BEGIN { printf "%.3f", a / b }')"
echo "median p99 us:    off $(median <"$work/off.p99"), on $(median <"$work/on.p99")"
echo "load: $(uptime)"
