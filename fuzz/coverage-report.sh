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

declare -A sources=(
    [http_head]="HttpConnection.cpp HttpResponse.cpp QueryString.cpp"
    [query_string]="QueryString.cpp"
    [exchange_format]="ExchangeFormat.cpp"
)
for target in http_head query_string exchange_format; do
    corpora=("$root/fuzz/corpus/$target")
    [ -d "$fuzz_build/corpus/$target" ] && corpora=("$fuzz_build/corpus/$target" "${corpora[@]}")
    rm -f "$build/$target".profraw
    LLVM_PROFILE_FILE="$build/$target.profraw" "$build/fuzz_$target" -runs=0 "${corpora[@]}" \
        >"$build/$target.log" 2>&1
    "$profdata" merge -sparse "$build/$target.profraw" -o "$build/$target.profdata"
    files=()
    for f in ${sources[$target]}; do files+=("$root/backend/src/$f"); done
    echo "== fuzz_$target: $(find "${corpora[@]}" -type f | wc -l) inputs"
    "$cov" report "$build/fuzz_$target" -instr-profile="$build/$target.profdata" "${files[@]}" |
        sed "s|$root/||"
done
