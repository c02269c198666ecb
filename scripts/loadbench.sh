#!/usr/bin/env bash
# Load benchmark: the service against two floors, one connection per request.
# The thread floor (logoffcookie-floor) starts a plain detached thread per
# connection; the inline floor (logoffcookie-floor --inline) answers on its
# accepting thread. When redis-server and redis-benchmark are installed, a
# private Redis on a Unix socket is measured too, also with a new connection
# per request (redis-benchmark -t get -k 0). At each client count the servers
# are measured one after the other, in an order that turns by one place from
# run to run, so that no server always runs first or last. Prints one table
# per run with each service's throughput and p99 latency as ratios to the
# floors' of the same run, and with several runs a table of medians, figure
# by figure.
#
#   scripts/loadbench.sh [--runs N] [--duration SECONDS] [--clients "1 4 16 64"]
#                        [--queries PERCENT] [--cookies N] [--raw-dir DIR]
#                        [--floor-bound] [--no-redis]
#                        [--service [NAME=]PATH]...
#
# Uses the client and the floor in ${LC_BUILD_DIR:-build}/bin; build first
# (cmake --build build -j2). --service names a service to measure: an
# executable, or a build directory (its bin/VOKLogoffCookieService); give it
# more than once to compare builds in one run, for example
#   --service before=/tmp/before/build --service after=build
# Without it, the service of ${LC_BUILD_DIR:-build} is measured. Each service
# runs in PID and mount namespaces of its own (one instance per namespace),
# with a fresh WA_INSTALL_PATH and tracing off, and is stopped by pid. Every
# cookie is added once before the first measurement, so queries find what they
# look for. --floor-bound starts the thread floor's threads on the accepting
# thread's processor.
# The cpu column gives each server process's user and system time per answered
# request, in microseconds (clock ticks of 10 ms: read them over long runs).
source "$(dirname "$0")/benchstart.sh"
bin="$build/bin"
runs=1
duration=5
clients="1 4 16 64"
queries=100
cookies=1000
raw_dir=""
thread_floor_options=()
with_redis=1
service_choices=()
while [ $# -gt 0 ]; do
    case "$1" in
        --runs) runs="$2"; shift 2 ;;
        --duration) duration="$2"; shift 2 ;;
        --clients) clients="$2"; shift 2 ;;
        --queries) queries="$2"; shift 2 ;;
        --cookies) cookies="$2"; shift 2 ;;
        --raw-dir) raw_dir="$2"; shift 2 ;;
        --floor-bound) thread_floor_options=(--bound); shift ;;
        --no-redis) with_redis=0; shift ;;
        --service) service_choices+=("$2"); shift 2 ;;
        -h|--help) sed -n '2,31p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "loadbench: unknown argument '$1'" >&2; exit 2 ;;
    esac
done
for program in logoffcookie logoffcookie-floor; do
    if [ ! -x "$bin/$program" ]; then
        echo "loadbench: $bin/$program is missing; build first" >&2
        exit 1
    fi
done
if [ "${#service_choices[@]}" -eq 0 ]; then
    service_choices=("service=$bin/VOKLogoffCookieService")
fi
if [ "$with_redis" = 1 ] && ! { command -v redis-server && command -v redis-benchmark; } >/dev/null; then
    echo "loadbench: redis-server or redis-benchmark not installed: no Redis row" >&2
    with_redis=0
fi

# The services to measure, by name.
declare -A binary_of
service_names=()
n=0
for choice in "${service_choices[@]}"; do
    n=$((n + 1))
    if [[ "$choice" == *=* ]]; then
        name="${choice%%=*}"
        path="${choice#*=}"
    else
        name="service$n"
        [ "${#service_choices[@]}" -gt 1 ] || name="service"
        path="$choice"
    fi
    if [ -d "$path" ]; then
        if [ -x "$path/bin/VOKLogoffCookieService" ]; then
            path="$path/bin/VOKLogoffCookieService"
        else
            path="$path/VOKLogoffCookieService"
        fi
    fi
    if [[ ! "$name" =~ ^[A-Za-z0-9_.-]+$ ]] || [ -n "${binary_of[$name]:-}" ]; then
        echo "loadbench: service name '$name' is not a plain word or is given twice" >&2
        exit 2
    fi
    if [ ! -x "$path" ]; then
        echo "loadbench: $path is not an executable service" >&2
        exit 1
    fi
    binary_of[$name]="$(readlink -f "$path")"
    service_names+=("$name")
done

work="$(mktemp -d /tmp/loadbench.XXXXXX)"
thread_floor_pid=""
inline_floor_pid=""
redis_pid=""
declare -A namespace_pid_of socket_of pid_of idle_threads

cleanup() {
    lc_stop_by_pid "$thread_floor_pid"
    lc_stop_by_pid "$inline_floor_pid"
    lc_stop_by_pid "$redis_pid"
    # unshare --kill-child: the namespace's first process, and with it every
    # process of the namespace, ends with the unshare process.
    for name in "${!namespace_pid_of[@]}"; do
        lc_stop_by_pid "${namespace_pid_of[$name]}" KILL
    done
    rm -rf "$work"
}
trap cleanup EXIT

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

mkdir "$work/thread" "$work/inline"
for floor in thread inline; do
    socket_of[$floor]="$work/$floor/logoffCookieSocket"
done

WA_INSTALL_PATH="$work/thread" "$bin/logoffcookie-floor" "${thread_floor_options[@]}" \
    >"$work/thread/out" 2>&1 &
thread_floor_pid=$!
WA_INSTALL_PATH="$work/inline" "$bin/logoffcookie-floor" --inline \
    >"$work/inline/out" 2>&1 &
inline_floor_pid=$!
for floor in thread inline; do
    lc_wait_for_socket "${socket_of[$floor]}" ||
        { echo "loadbench: the $floor floor did not start" >&2; exit 1; }
done
pid_of[thread]="$thread_floor_pid"
pid_of[inline]="$inline_floor_pid"

# Each service in namespaces of its own: the single-instance check finds no
# other, whatever else runs on the host.
for name in "${service_names[@]}"; do
    mkdir "$work/$name"
    socket_of[$name]="$work/$name/logoffCookieSocket"
    lc_service_in_namespaces "$work/$name" "${binary_of[$name]}"
    namespace_pid_of[$name]="$lc_started"
done
for name in "${service_names[@]}"; do
    if ! lc_wait_for_socket "${socket_of[$name]}"; then
        echo "loadbench: the service '$name' did not start:" >&2
        cat "$work/$name/stderr" >&2
        exit 1
    fi
    first="$(lc_child_of "${namespace_pid_of[$name]}")"
    monitor="$(lc_child_of "$first")"
    pid_of[$name]="$(lc_child_of "$monitor")"
    if [ -z "${pid_of[$name]}" ]; then
        echo "loadbench: no worker process found for the service '$name'" >&2
        exit 1
    fi
done

if [ "$with_redis" = 1 ]; then
    mkdir "$work/redis"
    socket_of[redis]="$work/redis/redis.sock"
    redis-server --port 0 --unixsocket "${socket_of[redis]}" --save '' --appendonly no \
        --dir "$work/redis" >"$work/redis/out" 2>&1 &
    redis_pid=$!
    pid_of[redis]="$redis_pid"
    lc_wait_for_socket "${socket_of[redis]}" ||
        { echo "loadbench: redis-server did not start" >&2; exit 1; }
fi

# After the services' start, so that no query is answered by the age rule alone.
created=$(($(date +%s) + 1))
common=(--queries "$queries" --cookies "$cookies" --created "$created" --tsv)
for name in "${service_names[@]}"; do
    "$bin/logoffcookie" bench --socket "${socket_of[$name]}" "${common[@]}" --prefill \
        --requests 1 >/dev/null
done

# redis-benchmark counts requests, not seconds: a short first run at each
# client count sets how many make about the duration.
declare -A redis_requests
redis_line() {
    redis-benchmark -s "${socket_of[redis]}" -t get -k 0 -c "$1" -n "$2" --csv 2>/dev/null |
        awk -F'"' '$2 == "GET" { print $4, $10, $12, $14, $16 }'
}
if [ "$with_redis" = 1 ]; then
    for c in $clients; do
        read -r rps _ <<<"$(redis_line "$c" 20000)"
        redis_requests[$c]="$(awk -v r="$rps" -v d="$duration" 'BEGIN { printf "%d", r * d + 1000 }')"
    done
fi

# One bench of one server: the line of figures the results file takes
# (clients, seconds, right, errors, req/s, p50, p90, p99, max in us).
measure() {
    local server="$1" c="$2"
    if [ "$server" = redis ]; then
        local start end rps p50 p99 max
        start="$(date +%s.%N)"
        read -r rps p50 _ p99 max <<<"$(redis_line "$c" "${redis_requests[$c]}")"
        end="$(date +%s.%N)"
        [ -n "$rps" ] || return 0
        # No p90 in its report: that column stays empty for Redis.
        awk -v c="$c" -v n="${redis_requests[$c]}" -v s="$start" -v e="$end" -v r="$rps" \
            -v a="$p50" -v b="$p99" -v m="$max" 'BEGIN {
                printf "%d\t%.3f\t%d\t0\t%.0f\t%.0f\t\t%.0f\t%.0f\n",
                    c, e - s, n, r, a * 1000, b * 1000, m * 1000 }'
        return 0
    fi
    local extra=()
    case "$server" in thread|inline) extra=(--expect-raw) ;; esac
    "$bin/logoffcookie" bench --socket "${socket_of[$server]}" --clients "$c" \
        --duration "$duration" "${common[@]}" "${extra[@]}" || true
}

load_at_start="$(uptime)"
servers=(thread inline "${service_names[@]}")
[ "$with_redis" = 0 ] || servers+=(redis)
count="${#servers[@]}"
results="$work/results"
: >"$results"
for run in $(seq 1 "$runs"); do
    for c in $clients; do
        for i in $(seq 0 $((count - 1))); do
            server="${servers[$(((i + run - 1) % count))]}"
            before="$(cpu_ticks "${pid_of[$server]}")"
            line="$(measure "$server" "$c")"
            after="$(cpu_ticks "${pid_of[$server]}")"
            if [ -z "$line" ]; then
                echo "loadbench: no figures for the $server server at C=$c" >&2
                exit 1
            fi
            printf '%s\t%s\t%s\t%s\n' "$run" "$server" "$line" "$((after - before))" >>"$results"
        done
    done
done
for name in "${service_names[@]}"; do
    idle_threads[$name]="$(awk '/^Threads:/ { print $2 }' "/proc/${pid_of[$name]}/status")"
done
if [ -n "$raw_dir" ]; then
    mkdir -p "$raw_dir"
    cp "$results" "$raw_dir/loadbench-$(date +%Y%m%d-%H%M%S).tsv"
fi

# results: run, server, clients, seconds, right, errors, req/s, p50, p90, p99, max (us), cpu ticks
# One line per client count and server, in the order the servers were given;
# the ratio columns divide the line's figures by the floors' at that count.
print_table() {
    awk -F'\t' -v hz="$ticks_per_second" -v order="${servers[*]}" '
        function ms(us) { return us == "" ? sprintf("%6s", "-") : sprintf("%6.2f", us / 1000) }
        function ratio(a, b) { return sprintf("%5.2f", b > 0 ? a / b : 0) }
        {
            row[$2, $3] = $0
            if (!($3 in known)) { known[$3] = 1; keys[++n] = $3 }
        }
        END {
            count = split(order, names, " ")
            for (i = 2; i <= n; i++)
                for (j = i; j > 1 && keys[j - 1] + 0 > keys[j] + 0; j--) {
                    swap = keys[j]; keys[j] = keys[j - 1]; keys[j - 1] = swap
                }
            printf "%4s %-10s | %9s %6s %6s %6s %6s | %5s | %6s | %6s %6s %6s\n",
                "C", "server", "req/s", "p50", "p90", "p99", "max", "cpu", "errors",
                "thr/t", "thr/i", "p99/i"
            printf "%4s %-10s | %9s %27s | %5s | %6s | %20s\n",
                "", "", "", "(ms)", "us/rq", "", "ratios to the floors"
            for (i = 1; i <= n; i++) {
                k = keys[i]
                split(row["thread", k], t, "\t")
                split(row["inline", k], l, "\t")
                for (j = 1; j <= count; j++) {
                    if (!((names[j], k) in row)) continue
                    split(row[names[j], k], s, "\t")
                    printf "%4d %-10s | %9.0f %s %s %s %s | %5.0f | %6d | %s %s %s\n",
                        k, names[j], s[7], ms(s[8]), ms(s[9]), ms(s[10]), ms(s[11]),
                        (s[5] > 0 ? s[12] * 1e6 / hz / s[5] : 0), s[6],
                        ratio(s[7], t[7]), ratio(s[7], l[7]), ratio(s[10], l[10])
                }
            }
        }'
}

echo "load benchmark: $duration s per point, $queries% queries over $cookies cookies," \
    "one connection per request; $(nproc) cores;" \
    "thread floor${thread_floor_options[*]:+ ${thread_floor_options[*]}}"
for name in "${service_names[@]}"; do
    echo "service $name: ${binary_of[$name]}"
done
[ "$with_redis" = 0 ] || echo "redis: $(redis-server --version | cut -d' ' -f1-3), GET of a missing key"
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
            if (n == 0) return ""
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
for name in "${service_names[@]}"; do
    echo "service $name: worker threads right after the last point: ${idle_threads[$name]}"
done
echo "at the end:  $(uptime)"
