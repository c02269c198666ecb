#!/usr/bin/env bash
# Load benchmark: the service against two floors, one connection per request.
# The thread floor (logoffcookie-floor) starts a plain detached thread per
# connection; the inline floor (logoffcookie-floor --inline) answers on its
# accepting thread. At each client count the three servers are measured one
# after the other, in an order that turns by one place from run to run, so that
# no server always runs first or last. Prints one table per run with the
# service's throughput and p99 latency as ratios to each floor's of the same
# run, and with several runs a table of medians, figure by figure.
#
#   scripts/loadbench.sh [--runs N] [--duration SECONDS] [--clients "1 4 16 64"]
#                        [--queries PERCENT] [--cookies N] [--raw-dir DIR]
#                        [--floor-bound]
#
# Uses the executables in ${LC_BUILD_DIR:-build}/bin; build first
# (cmake --build build -j2). The service runs with a fresh WA_INSTALL_PATH and
# tracing off, and is stopped by its pid. Every cookie is added once before the
# first measurement, so queries find what they look for. --floor-bound starts
# the thread floor's threads on the accepting thread's processor.
# The cpu columns give each server process's user and system time per answered
# request, in microseconds (clock ticks of 10 ms: read them over long runs).
set -euo pipefail
cd "$(dirname "$0")/.."

bin="${LC_BUILD_DIR:-build}/bin"
runs=1
duration=5
clients="1 4 16 64"
queries=100
cookies=1000
raw_dir=""
thread_floor_options=()
while [ $# -gt 0 ]; do
    case "$1" in
        --runs) runs="$2"; shift 2 ;;
        --duration) duration="$2"; shift 2 ;;
        --clients) clients="$2"; shift 2 ;;
        --queries) queries="$2"; shift 2 ;;
        --cookies) cookies="$2"; shift 2 ;;
        --raw-dir) raw_dir="$2"; shift 2 ;;
        --floor-bound) thread_floor_options=(--bound); shift ;;
        -h|--help) sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
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
thread_floor_pid=""
inline_floor_pid=""
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

stop_floor() {
    if [ -n "$1" ]; then
        kill -TERM "$1" 2>/dev/null || true
        wait "$1" 2>/dev/null || true
    fi
}

cleanup() {
    stop_floor "$thread_floor_pid"
    stop_floor "$inline_floor_pid"
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

# User plus system clock ticks of a process so far, its ended threads included.
cpu_ticks() {
    local stat
    stat="$(cat "/proc/$1/stat")"
    stat="${stat##*) }"
    # shellcheck disable=SC2086
    set -- $stat
    echo $((${12} + ${13}))
}
ticks_per_second="$(getconf CLK_TCK)"

mkdir "$work/thread" "$work/inline" "$work/service"
declare -A socket_of pid_of
for floor in thread inline; do
    socket_of[$floor]="$work/$floor/logoffCookieSocket"
done
socket_of[service]="$work/service/logoffCookieSocket"

WA_INSTALL_PATH="$work/thread" "$bin/logoffcookie-floor" "${thread_floor_options[@]}" \
    >"$work/thread/out" 2>&1 9>&- &
thread_floor_pid=$!
WA_INSTALL_PATH="$work/inline" "$bin/logoffcookie-floor" --inline \
    >"$work/inline/out" 2>&1 9>&- &
inline_floor_pid=$!
for floor in thread inline; do
    wait_for_socket "${socket_of[$floor]}" ||
        { echo "loadbench: the $floor floor did not start" >&2; exit 1; }
done

env -u VOKTRACELEVEL -u VOKTRACEDEST WA_INSTALL_PATH="$work/service" \
    "$bin/VOKLogoffCookieService" >"$work/service/stdout" 2>"$work/service/stderr" 9>&-
monitor_pid="$(sed -n 2p "$work/service/stdout")"
if ! wait_for_socket "${socket_of[service]}"; then
    # The pid printed may be that of another instance, which is not ours to stop.
    monitor_pid=""
    echo "loadbench: the service did not start on $work/service (another instance running?)" >&2
    exit 1
fi
worker_pid="$(pgrep -P "$monitor_pid" | head -n 1 || true)"
pid_of[thread]="$thread_floor_pid"
pid_of[inline]="$inline_floor_pid"
pid_of[service]="$worker_pid"

# After the service's start, so that no query is answered by the age rule alone.
created=$(($(date +%s) + 1))
common=(--queries "$queries" --cookies "$cookies" --created "$created" --tsv)
"$bin/logoffcookie" bench --socket "${socket_of[service]}" "${common[@]}" --prefill \
    --requests 1 >/dev/null

load_at_start="$(uptime)"
servers=(thread inline service)
results="$work/results"
: >"$results"
for run in $(seq 1 "$runs"); do
    for c in $clients; do
        for i in 0 1 2; do
            server="${servers[$(((i + run - 1) % 3))]}"
            extra=()
            if [ "$server" != service ]; then
                extra=(--expect-raw)
            fi
            before="$(cpu_ticks "${pid_of[$server]}")"
            line="$("$bin/logoffcookie" bench --socket "${socket_of[$server]}" --clients "$c" \
                --duration "$duration" "${common[@]}" "${extra[@]}" || true)"
            after="$(cpu_ticks "${pid_of[$server]}")"
            if [ -z "$line" ]; then
                echo "loadbench: no figures for the $server server at C=$c" >&2
                exit 1
            fi
            printf '%s\t%s\t%s\t%s\n' "$run" "$server" "$line" "$((after - before))" >>"$results"
        done
    done
done
idle_threads="$(awk '/^Threads:/ { print $2 }' "/proc/$worker_pid/status")"
if [ -n "$raw_dir" ]; then
    mkdir -p "$raw_dir"
    cp "$results" "$raw_dir/loadbench-$(date +%Y%m%d-%H%M%S).tsv"
fi

# results: run, server, clients, seconds, right, errors, req/s, p50, p90, p99, max (us), cpu ticks
print_table() {
    sort -t "$(printf '\t')" -k3,3n | awk -F'\t' -v hz="$ticks_per_second" '
        function ms(us) { return sprintf("%6.2f", us / 1000) }
        function ratio(a, b) { return sprintf("%5.2f", b > 0 ? a / b : 0) }
        function cpu(line,    f) {
            split(line, f, "\t")
            return sprintf("%4.0f", f[5] > 0 ? f[12] * 1e6 / hz / f[5] : 0)
        }
        {
            key = $3
            row[$2, key] = $0
            if (!(key in known)) { known[key] = 1; keys[++n] = key }
        }
        END {
            printf "%4s | %8s %6s %6s | %8s %6s %6s | %9s %6s %6s %6s %6s | %4s %4s %4s |" \
                   " %5s %5s %5s %5s | %s\n",
                "C", "thread/s", "p50", "p99", "inline/s", "p50", "p99",
                "service/s", "p50", "p90", "p99", "max", "cpu", "", "",
                "thr/t", "thr/i", "p99/t", "p99/i", "errors"
            printf "%4s | %8s %13s | %8s %13s | %9s %27s | %14s | %23s | %s\n",
                "", "", "(ms)", "", "(ms)", "", "(ms)", "us/req t i s",
                "service/floor ratios", "t/i/s"
            for (i = 1; i <= n; i++) {
                k = keys[i]
                split(row["thread", k], t, "\t")
                split(row["inline", k], l, "\t")
                split(row["service", k], s, "\t")
                printf "%4d | %8.0f %s %s | %8.0f %s %s | %9.0f %s %s %s %s | %s %s %s |" \
                       " %s %s %s %s | %d/%d/%d\n",
                    k, t[7], ms(t[8]), ms(t[10]), l[7], ms(l[8]), ms(l[10]),
                    s[7], ms(s[8]), ms(s[9]), ms(s[10]), ms(s[11]),
                    cpu(row["thread", k]), cpu(row["inline", k]), cpu(row["service", k]),
                    ratio(s[7], t[7]), ratio(s[7], l[7]), ratio(s[10], t[10]), ratio(s[10], l[10]),
                    t[6], l[6], s[6]
            }
        }'
}

echo "load benchmark: $duration s per point, $queries% queries over $cookies cookies," \
    "one connection per request; $(nproc) cores;" \
    "thread floor${thread_floor_options[*]:+ ${thread_floor_options[*]}}"
echo "at the start:$load_at_start"
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
        { for (col = 4; col <= 12; col++) values[$2, $3, col] = values[$2, $3, col] " " $col
          seen[$2, $3] = 1 }
        END {
            for (key in seen) {
                split(key, part, SUBSEP)
                line = "m" OFS part[1] OFS part[2]
                for (col = 4; col <= 12; col++) line = line OFS median(values[part[1], part[2], col])
                print line
            }
        }' "$results" | print_table
fi
echo
echo "service worker threads right after the last point: $idle_threads"
echo "at the end:  $(uptime)"
