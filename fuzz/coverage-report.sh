#!/usr/bin/env bash
# Source-line coverage of the backend files the fuzz targets reach with their corpora: the seeds
# in fuzz/corpus/ plus whatever `make fuzz` has found in FUZZ_BUILD_DIR/corpus/.
#
#   fuzz/coverage-report.sh [FUZZ_BUILD_DIR]      (default: build-fuzz; the coverage build goes
#                                                  into FUZZ_BUILD_DIR-coverage)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
fuzz_build=${1:-build-fuzz}
build="$fuzz_build-coverage"
compiler=${FUZZ_CXX:-clang++}
version=$("$compiler" -dumpversion 2>/dev/null | cut -d. -f1 || true)
pick() { for t in "$1-$version" "$1"; do command -v "$t" >/dev/null && { echo "$t"; return; }; done; }
profdata=$(pick llvm-profdata)
cov=$(pick llvm-cov)
if [ -z "$profdata" ] || [ -z "$cov" ] || ! command -v "$compiler" >/dev/null; then
    echo "coverage skipped: needs $compiler, llvm-profdata and llvm-cov (Debian: clang, llvm)"
    exit 0
fi

cmake -S "$root/fuzz" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER="$compiler" -DZENTROW_FUZZ_COVERAGE=ON >/dev/null
cmake --build "$build" -j "${JOBS:-$(nproc)}"

for target in http_head query_string exchange_format; do
    corpora=("$root/fuzz/corpus/$target")
    [ -d "$fuzz_build/corpus/$target" ] && corpora=("$fuzz_build/corpus/$target" "${corpora[@]}")
    rm -f "$build/$target".profraw
    LLVM_PROFILE_FILE="$build/$target.profraw" "$build/fuzz_$target" -runs=0 "${corpora[@]}" \
        >"$build/$target.log" 2>&1
    "$profdata" merge -sparse "$build/$target.profraw" -o "$build/$target.profdata"
    echo "== fuzz_$target: $(find "${corpora[@]}" -type f | wc -l) inputs"
    # Only the backend's files: not the harness, moc output or Qt's headers.
    "$cov" report "$build/fuzz_$target" -instr-profile="$build/$target.profdata" \
        -ignore-filename-regex="/fuzz/fuzz_[a-z_]+\.cpp$|_autogen/|^/usr/" | sed "s|$root/||"
done
