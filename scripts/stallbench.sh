#!/usr/bin/env bash
# Black-box stall run: how long a query waits, seen from outside, while the
# cache fills and while a cleanup pass expires what it holds. Starts the
# service of ${LC_BUILD_DIR:-build} in PID and mount namespaces of its own
# (fresh WA_INSTALL_PATH, tracing off), fills it through its socket with
# cache_fill_client (COOKIES distinct cookies living one minute, from 4
# clients), and meanwhile runs `logoffcookie bench` with one querying client
# in windows of WINDOW seconds, for DURATION seconds from the first add. The
# first add starts the cleanup thread, whose second pass comes 240 s later
# and expires every cookie added by then. Prints one line per window: its end
# in seconds from the start, what the fill was doing, the queries answered,
# p50, p99 and max in microseconds, and the worker's resident memory; then the
# longest wait of all.
#
#   scripts/stallbench.sh [--cookies N] [--ceiling N] [--duration SECONDS]
#                         [--window SECONDS] [--fill-clients C]
#
# --ceiling sets VOKLOGOFFMAXCOOKIES (default: the service's own). Build
# first: cmake --build build -j2 --target VOKLogoffCookieService logoffcookie
# cache_fill_client. Everything started is stopped by pid.
source "$(dirname "$0")/benchstart.sh"
bin="$build/bin"
cookies=1000000
ceiling=""
duration=280
window=2
fill_clients=4
lc_bench_name=stallbench
lc_bench_options cookies ceiling duration window fill-clients -- "$@"
for program in VOKLogoffCookieService logoffcookie cache_fill_client; do
    if [ ! -x "$bin/$program" ]; then
        echo "stallbench: $bin/$program is missing; build first" >&2
        exit 1
    fi
done

work="$(mktemp -d /tmp/stallbench.XXXXXX)"
namespace_pid=""
fill_pid=""
cleanup() {
    lc_stop_by_pid "$fill_pid"
    # unshare --kill-child: the namespace, the service with it, ends with it.
    lc_stop_by_pid "$namespace_pid" KILL
    rm -rf "$work"
}
trap cleanup EXIT

socket="$work/logoffCookieSocket"
if [ -n "$ceiling" ]; then
    export VOKLOGOFFMAXCOOKIES="$ceiling"
fi
lc_service_in_namespaces "$work" "$bin/VOKLogoffCookieService"
namespace_pid="$lc_started"
if ! lc_wait_for_socket "$socket"; then
    echo "stallbench: the service did not start:" >&2
    cat "$work/stderr" >&2
    exit 1
fi
first="$(lc_child_of "$namespace_pid")"
monitor="$(lc_child_of "$first")"
worker="$(lc_child_of "$monitor")"

echo "stallbench: $cookies cookies living 1 minute, ceiling ${ceiling:-default}, windows of" \
    "$window s for $duration s; load average $(cut -d' ' -f1-3 /proc/loadavg)"
printf 'end_s\tfill\tanswered\tp50_us\tp99_us\tmax_us\trss_MB\n'
start=$SECONDS
"$bin/cache_fill_client" --socket "$socket" --cookies "$cookies" --clients "$fill_clients" \
    --lifetime 1 >"$work/fill" 2>&1 &
fill_pid=$!
longest=0
while [ $((SECONDS - start)) -lt "$duration" ]; do
    if kill -0 "$fill_pid" 2>/dev/null; then fill=filling; else fill="done"; fi
    line="$("$bin/logoffcookie" bench --socket "$socket" --clients 1 --queries 100 \
        --duration "$window" --created now+1 --tsv --quiet || true)"
    rss="$(awk '/^VmRSS/ { printf "%.0f", $2 / 1024 }' "/proc/$worker/status" 2>/dev/null || echo -)"
    # clients seconds right errors rate p50 p90 p99 max
    read -r _ _ right _ _ p50 _ p99 max <<<"$line"
    printf '%d\t%s\t%s\t%s\t%s\t%s\t%s\n' $((SECONDS - start)) "$fill" "${right:-0}" \
        "${p50:-}" "${p99:-}" "${max:-}" "$rss"
    if [ -n "${max:-}" ] && [ "${max%.*}" -gt "$longest" ]; then
        longest="${max%.*}"
    fi
done
wait "$fill_pid" || true
fill_pid=""
cat "$work/fill"
grep -h "ceiling" "$work/stderr" || true
echo "stallbench: longest wait of any query: $longest us; load average $(cut -d' ' -f1-3 /proc/loadavg)"
