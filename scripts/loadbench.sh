#!/usr/bin/env bash
# Load benchmark: the service against the floor server (logoffcookie-floor),
# back to back at each client count, one connection per request. Prints one
# table per run, with the service's throughput and p99 latency as ratios to
# the floor's of the same run, and with several runs a table of medians.
#
#   scripts/loadbench.sh [--runs N] [--duration SECONDS] [--clients "1 4 16 64"]
#                        [--queries PERCENT] [--cookies N] [--raw-dir DIR]
#                        [--floor-start-anywhere]
#
# Uses the executables in ${LC_BUILD_DIR:-build}/bin; build first
# (cmake --build build -j2). The service runs with a fresh WA_INSTALL_PATH and
# tracing off, and is stopped by its pid. Every cookie is added once before the
# first measurement, so queries find what they look for. The floor starts its
# threads as the service does; --floor-start-anywhere leaves that to the system.
set -euo pipefail
cd "$(dirname "$0")/.."

bin="${LC_BUILD_DIR:-build}/bin"
runs=1
duration=5
clients="1 4 16 64"
queries=100
cookies=1000
raw_dir=""
floor_options=()
while [ $# -gt 0 ]; do
    case "$1" in
        --runs) runs="$2"; shift 2 ;;
        --duration) duration="$2"; shift 2 ;;
        --clients) clients="$2"; shift 2 ;;
        --queries) queries="$2"; shift 2 ;;
        --cookies) cookies="$2"; shift 2 ;;
        --raw-dir) raw_dir="$2"; shift 2 ;;
        --floor-start-anywhere) floor_options=(--start-anywhere); shift ;;
        -h|--help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "loadbench: unknown argument '$1'" >&2; exit 2 ;;
    esac
done
for program in VOKLogoffCookieService logoffcookie logoffcookie-floor; do
    if [ ! -x "$bin/$program" ]; then
        echo "loadbench: $bin/$program is missing; build first" >&2
        exit 1
    fi
done

# Only one service runs per host: wait for the lock the end-to-end tests take.
exec 9>/tmp/VOKLogoffCookieService.tests.lock
flock 9

work="$(mktemp -d /tmp/loadbench.XXXXXX)"
floor_pid=""
monitor_pid=""
worker_pid=""

wait_gone() {
    local pid="$1" tries=400
    while [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null && [ "$tries" -gt 0 ]; do
        sleep 0.05
        tries=$((tries - 1))
    done
    ! kill -0 "$pid" 2>/dev/null
}

cleanup() {
    if [ -n "$floor_pid" ]; then
        kill -TERM "$floor_pid" 2>/dev/null || true
        wait "$floor_pid" 2>/dev/null || true
    fi
    if [ -n "$monitor_pid" ]; then
        kill -TERM "$monitor_pid" 2>/dev/null || true
        # The worker gives its threads up to 5 s each to end.
        wait_gone "$monitor_pid" || kill -KILL "$monitor_pid" 2>/dev/null || true
        wait_gone "$worker_pid" || kill -KILL "$worker_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

wait_for_socket() {
    local tries=200
    while [ ! -S "$1" ] && [ "$tries" -gt 0 ]; do
        sleep 0.05
        tries=$((tries - 1))
    done
    [ -S "$1" ]
}

mkdir "$work/floor" "$work/service"
floor_socket="$work/floor/logoffCookieSocket"
service_socket="$work/service/logoffCookieSocket"

WA_INSTALL_PATH="$work/floor" "$bin/logoffcookie-floor" "${floor_options[@]}" \
    >"$work/floor/out" 2>&1 9>&- &
floor_pid=$!
wait_for_socket "$floor_socket" || { echo "loadbench: the floor server did not start" >&2; exit 1; }

env -u VOKTRACELEVEL -u VOKTRACEDEST WA_INSTALL_PATH="$work/service" \
    "$bin/VOKLogoffCookieService" >"$work/service/stdout" 2>"$work/service/stderr" 9>&-
monitor_pid="$(sed -n 2p "$work/service/stdout")"
if ! wait_for_socket "$service_socket"; then
    # The pid printed may be that of another instance, which is not ours to stop.
    monitor_pid=""
    echo "loadbench: the service did not start on $work/service (another instance running?)" >&2
    exit 1
fi
worker_pid="$(pgrep -P "$monitor_pid" | head -n 1 || true)"

# After the service's start, so that no query is answered by the age rule alone.
created=$(($(date +%s) + 1))
common=(--queries "$queries" --cookies "$cookies" --created "$created" --tsv)
"$bin/logoffcookie" bench --socket "$service_socket" "${common[@]}" --prefill --requests 1 \
    >/dev/null

results="$work/results"
: >"$results"
for run in $(seq 1 "$runs"); do
    for c in $clients; do
        for server in floor service; do
            extra=()
            socket="$service_socket"
            if [ "$server" = floor ]; then
                extra=(--expect-raw)
                socket="$floor_socket"
            fi
            line="$("$bin/logoffcookie" bench --socket "$socket" --clients "$c" \
                --duration "$duration" "${common[@]}" "${extra[@]}" || true)"
            if [ -z "$line" ]; then
                echo "loadbench: no figures for $server at C=$c" >&2
                exit 1
            fi
            printf '%s\t%s\t%s\n' "$run" "$server" "$line" >>"$results"
        done
    done
done
if [ -n "$raw_dir" ]; then
    mkdir -p "$raw_dir"
    cp "$results" "$raw_dir/loadbench-$(date +%Y%m%d-%H%M%S).tsv"
fi

# results: run, server, clients, seconds, right, errors, req/s, p50, p90, p99, max (us)
print_table() {
    sort -t "$(printf '\t')" -k3,3n | awk -F'\t' '
        function ms(us) { return sprintf("%7.2f", us / 1000) }
        {
            key = $3
            if ($2 == "floor") { f[key] = $0 } else { s[key] = $0 }
            if (!(key in known)) { known[key] = 1; keys[++n] = key }
        }
        END {
            printf "%4s | %9s %7s %7s %7s %7s | %9s %7s %7s %7s %7s | %6s %6s | %s\n",
                "C", "floor/s", "p50", "p90", "p99", "max", "service/s", "p50", "p90", "p99", "max",
                "thr", "p99", "errors"
            printf "%4s | %9s %31s | %9s %31s | %6s %6s | %s\n", "", "", "(ms)", "", "(ms)",
                "ratio", "ratio", "floor/service"
            for (i = 1; i <= n; i++) {
                k = keys[i]; split(f[k], a, "\t"); split(s[k], b, "\t")
                printf "%4d | %9.0f %s %s %s %s | %9.0f %s %s %s %s | %6.2f %6.2f | %d/%d\n",
                    k, a[7], ms(a[8]), ms(a[9]), ms(a[10]), ms(a[11]),
                    b[7], ms(b[8]), ms(b[9]), ms(b[10]), ms(b[11]),
                    (a[7] > 0 ? b[7] / a[7] : 0), (a[10] > 0 ? b[10] / a[10] : 0), a[6], b[6]
            }
        }'
}

echo "load benchmark: $duration s per point, $queries% queries over $cookies cookies," \
    "one connection per request; $(nproc) cores${floor_options[*]:+; floor ${floor_options[*]}}"
for run in $(seq 1 "$runs"); do
    echo
    echo "run $run of $runs"
    awk -F'\t' -v r="$run" '$1 == r' "$results" | print_table
done

if [ "$runs" -gt 1 ]; then
    echo
    echo "medians of the $runs runs, figure by figure (ratio columns: ratios of the medians)"
    awk -F'\t' -v OFS='\t' '
        function median(list,    n, v, i, j, t) {
            n = split(list, v, " ")
            for (i = 2; i <= n; i++) {
                t = v[i]
                for (j = i - 1; j >= 1 && v[j] + 0 > t + 0; j--) v[j + 1] = v[j]
                v[j + 1] = t
            }
            return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
        }
        { for (col = 6; col <= 11; col++) values[$2, $3, col] = values[$2, $3, col] " " $col
          seen[$2, $3] = 1 }
        END {
            for (key in seen) {
                split(key, part, SUBSEP)
                line = "m" OFS part[1] OFS part[2] OFS 0 OFS 0
                for (col = 6; col <= 11; col++) line = line OFS median(values[part[1], part[2], col])
                print line
            }
        }' "$results" | print_table
fi
