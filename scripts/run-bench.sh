#!/usr/bin/env bash
# Runs every benchmark of a build folder: the Google Benchmark programs, the app's start-up
# measurement (on a private session bus) and the backend's load test (loopback only).
set -euo pipefail
build=${1:-build}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
shopt -s nullglob
for b in "$build"/bench/bench_*; do
    [ -x "$b" ] || continue
    name=$(basename "$b")
    [ "$name" = bench_startup ] && continue
    echo "== $name"
    "$b" --benchmark_min_time=0.2
done
if [ -x "$build/bench/bench_startup" ]; then
    echo "== bench_startup"
    dbus-run-session -- "$build/bench/bench_startup" --runs 10 --idle-seconds "${IDLE_SECONDS:-60}"
fi
echo "== backend-load"
"$(dirname "$0")/../bench/backend-load.sh" "$build" 10 32
