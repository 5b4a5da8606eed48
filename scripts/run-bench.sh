#!/usr/bin/env bash
# Runs every benchmark of a build folder: the Google Benchmark programs, the app's start-up and
# memory measurement next to a bare status item (on a private session bus and an Xvfb display of
# its own) and the backend's load test (loopback only). The 30-minute memory soak is separate:
# bench/app-soak.sh.
set -euo pipefail
build=${1:-build}
shopt -s nullglob
for b in "$build"/bench/bench_*; do
    [ -x "$b" ] || continue
    name=$(basename "$b")
    [ "$name" = bench_startup ] && continue
    echo "== $name"
    QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$b" --benchmark_min_time=0.2
done
if [ -x "$build/bench/bench_startup" ]; then
    echo "== bench_startup"
    # Its own Xvfb unless DISPLAY names one to use.
    env -u DISPLAY dbus-run-session -- "$build/bench/bench_startup" --runs "${STARTUP_RUNS:-5}" \
        --idle-seconds "${IDLE_SECONDS:-30}"
fi
echo "== backend-load"
"$(dirname "$0")/../bench/backend-load.sh" "$build" 10 32
