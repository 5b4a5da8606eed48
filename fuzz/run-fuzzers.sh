#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time, then prints one line
# per target: executions, executions per second and the edges covered.
#
#   fuzz/run-fuzzers.sh [BUILD_DIR] [SECONDS_EACH]      (defaults: build-fuzz 120)
#   FUZZ_TARGETS="http_head" fuzz/run-fuzzers.sh ...    (only some targets)
#
# Without clang or its libFuzzer runtime it says so and exits 0, so `make test` still passes on a
# machine that only builds the app. New inputs found go to BUILD_DIR/corpus/<target> (the seeds
# in fuzz/corpus/ stay untouched); a crashing input is written to BUILD_DIR/crashes/ and the
# script fails.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build-fuzz}
seconds=${2:-120}
read -r -a targets <<<"${FUZZ_TARGETS:-http_head query_string exchange_format}"

if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
    echo "SECONDS_EACH must be a whole number of seconds, at least 1" >&2
    exit 1
fi

compiler=${FUZZ_CXX:-clang++}
if ! command -v "$compiler" >/dev/null; then
    echo "fuzzing skipped: $compiler not found (Debian: apt-get install clang libclang-rt-dev)"
    exit 0
fi
probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' >"$probe/probe.cpp"
if ! "$compiler" -fsanitize=fuzzer,address,undefined "$probe/probe.cpp" -o "$probe/probe" 2>"$probe/log"; then
    echo "fuzzing skipped: $compiler cannot link libFuzzer (Debian: apt-get install libclang-rt-dev)"
    exit 0
fi

cmake -S "$root/fuzz" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER="$compiler" >/dev/null
cmake --build "$build" -j "${JOBS:-$(nproc)}"

mkdir -p "$build/crashes"
summary=()
failed=()
for target in "${targets[@]}"; do
    exe="$build/fuzz_$target"
    mkdir -p "$build/corpus/$target"
    options=(-max_total_time="$seconds" -max_len=4096 -timeout=10 -print_final_stats=1
             -artifact_prefix="$build/crashes/$target-")
    [ -f "$root/fuzz/$target.dict" ] && options+=(-dict="$root/fuzz/$target.dict")
    log="$build/fuzz_$target.log"
    echo "== fuzz_$target for $seconds s"
    status=0
    ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1} \
        "$exe" "${options[@]}" "$build/corpus/$target" "$root/fuzz/corpus/$target" >"$log" 2>&1 || status=$?
    edges=$(sed -nE 's/^INFO: Loaded 1 modules +\(([0-9]+) inline 8-bit counters.*/\1/p' "$log" | head -1)
    done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1 || true)
    runs=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+)/\1/p' "$log")
    rate=$(sed -nE 's/^stat::average_exec_per_sec: *([0-9]+)/\1/p' "$log")
    cov=$(sed -nE 's/.* cov: ([0-9]+) .*/\1/p' <<<"$done_line")
    corpus=$(sed -nE 's/.* corp: ([0-9]+)\/.*/\1/p' <<<"$done_line")
    if [ "$status" -ne 0 ]; then
        failed+=("fuzz_$target")
        grep -E 'ERROR|SUMMARY|fuzz_.*: |Test unit written' "$log" | head -20 >&2 || true
        echo "fuzz_$target failed (exit $status); full log: $log" >&2
        summary+=("$(printf '%-22s FAILED, see %s' "fuzz_$target" "$log")")
    else
        summary+=("$(printf '%-22s %9s runs %7s exec/s  cov %5s of %5s edges  corpus %s' \
            "fuzz_$target" "${runs:-?}" "${rate:-?}" "${cov:-?}" "${edges:-?}" "${corpus:-?}")")
    fi
done

echo "== fuzzing summary ($seconds s each)"
printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -gt 0 ]; then
    echo "crashing inputs are in $build/crashes/" >&2
    exit 1
fi
