#!/usr/bin/env bash
# Runs every benchmark of a build folder: the Google Benchmark programs, the app's start-up and
# memory measurement next to a bare status item (on a private session bus and an Xvfb display of
# its own) and the backend's load test (loopback only). The 30-minute memory soak is separate:
# bench/app-soak.sh. With "micro" as the second argument only the Google Benchmark programs run:
#   scripts/run-bench.sh build micro
set -euo pipefail
build=${1:-build}
shopt -s nullglob
# Each program also writes its results as JSON, so that every measurement can be printed next to
# the reference measured in the same run. BENCH_RESULTS names a folder to keep them in; the
# files of several runs given together to bench/bench-ratios.py give the medians over the runs.
if [ -n "${BENCH_RESULTS:-}" ]; then
    results=$BENCH_RESULTS
    mkdir -p "$results"
else
    results=$(mktemp -d)
    trap 'rm -rf "$results"' EXIT
fi
for b in "$build"/bench/bench_*; do
    # Skips the folders the build keeps beside the programs (bench_*_autogen).
    [ -f "$b" ] && [ -x "$b" ] || continue
    name=$(basename "$b")
    [ "$name" = bench_startup ] && continue
    echo "== $name"
    QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$b" --benchmark_min_time=0.2 \
        --benchmark_out="$results/$name.json" --benchmark_out_format=json
done
echo "== ours against the references of the same run"
python3 "$(dirname "$0")/../bench/bench-ratios.py" "$results"/*.json
[ "${2:-}" = micro ] && exit 0
if [ -x "$build/bench/bench_startup" ]; then
    echo "== bench_startup"
    # Its own Xvfb unless DISPLAY names one to use.
    env -u DISPLAY dbus-run-session -- "$build/bench/bench_startup" --runs "${STARTUP_RUNS:-5}" \
        --idle-seconds "${IDLE_SECONDS:-30}"
fi
echo "== backend-load"
"$(dirname "$0")/../bench/backend-load.sh" "$build" 10 32
