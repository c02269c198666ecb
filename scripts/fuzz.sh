#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz with clang in build-fuzz/ and runs
# every target, failing on any crash, sanitizer report, leak or time-out.
#   scripts/fuzz.sh                      # 30 seconds per target
#   scripts/fuzz.sh 600                  # 10 minutes per target
#   scripts/fuzz.sh 60 fuzz_dispatcher   # chosen targets only
#   scripts/fuzz.sh fixed                # CI: a fixed seed and number of runs
# Timed runs explore: inputs found worth keeping accumulate in
# build-fuzz/corpus/<target>, and what a run finds depends on the machine's
# speed. A fixed run starts from the committed seeds alone, with one seed and
# a set number of executions per target, so that it tries the same inputs on
# every machine and a passing tree passes again. The committed seeds in
# tests/fuzz/corpus/<target> are only read. A crashing input is saved as
# build-fuzz/artifacts/<target>-crash-*; put it among the seeds once mended.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
shift || true
fixed=false
[ "$seconds" != fixed ] || fixed=true
all_targets=(fuzz_base64_decode fuzz_decrypt_pipe_data fuzz_packet_decrypt fuzz_checked_packet
             fuzz_dispatcher fuzz_share_entry fuzz_redis_reply fuzz_share_endpoint
             fuzz_share_credentials fuzz_state_file)
targets=("$@")
[ "${#targets[@]}" -gt 0 ] || targets=("${all_targets[@]}")

missing=()
command -v clang++ >/dev/null 2>&1 || missing+=(clang)
compgen -G "/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a" >/dev/null ||
    missing+=(libclang-rt-dev)
command -v cmake >/dev/null 2>&1 || missing+=(cmake)
command -v ninja >/dev/null 2>&1 || missing+=(ninja-build)
if [ "${#missing[@]}" -gt 0 ]; then
    echo "installing: ${missing[*]}"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi

build=build-fuzz
cmake -S tests/fuzz -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    >/dev/null
cmake --build "$build" -j "$(nproc)"

# Envelopes under this host's key, so that the envelope's success path is
# among the seeds of fuzz_decrypt_pipe_data.
"$build/fuzz_make_seeds" --host "$build/host-seeds"

max_len() {
    case "$1" in
        fuzz_dispatcher) echo 3100 ;;
        fuzz_checked_packet | fuzz_base64_decode) echo 4100 ;;
        # A few entries of a stream read; the bounds themselves are far
        # larger, and are met by a declared length.
        fuzz_redis_reply) echo 16384 ;;
        fuzz_share_endpoint | fuzz_share_credentials) echo 1024 ;;
        *) echo 4096 ;;
    esac
}

# Executions of a fixed run: a few seconds to half a minute each, about two
# minutes for all ten on a 2-core machine.
fixed_runs() {
    case "$1" in
        fuzz_dispatcher) echo 60000 ;;
        fuzz_checked_packet | fuzz_redis_reply | fuzz_share_endpoint) echo 200000 ;;
        *) echo 2000000 ;;
    esac
}

failed=()
mkdir -p "$build/artifacts" "$build/logs"
for target in "${targets[@]}"; do
    corpus="$build/corpus/$target"
    limit=(-max_total_time="$seconds")
    if $fixed; then
        corpus="$build/fixed-corpus/$target"
        rm -rf "$corpus"
        limit=(-seed=1 -runs="$(fixed_runs "$target")" -reload=0)
    fi
    mkdir -p "$corpus"
    seeds=(tests/fuzz/corpus/"$target")
    [ "$target" != fuzz_decrypt_pipe_data ] || seeds+=("$build/host-seeds")
    log="$build/logs/$target.log"
    echo "== $target: ${limit[*]}"
    status=0
    "$build/$target" "${limit[@]}" -max_len="$(max_len "$target")" -timeout=10 \
        -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" \
        "$corpus" "${seeds[@]}" >"$log" 2>&1 || status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    cov=$(grep -Eo 'cov: [0-9]+' "$log" | tail -n 1 || true)
    echo "   executions: ${runs:-?}, ${cov:-cov: ?}, corpus: $(ls "$corpus" | wc -l) inputs, exit $status"
    if [ "$status" -ne 0 ]; then
        tail -n 60 "$log"
        failed+=("$target")
    fi
done

if [ "${#failed[@]}" -gt 0 ]; then
    echo "fuzz targets failed: ${failed[*]} (logs in $build/logs, inputs in $build/artifacts)"
    exit 1
fi
echo "fuzz targets passed: ${targets[*]}"
