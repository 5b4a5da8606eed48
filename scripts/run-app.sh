#!/usr/bin/env bash
# Starts the app from a build folder, or says what exists so far.
set -euo pipefail
build=${1:-build}
if [ -x "$build/zentrow" ]; then
    exec "$build/zentrow"
fi
echo "Built the core library and tests in $build/. The desktop app itself is not part of the build yet."
