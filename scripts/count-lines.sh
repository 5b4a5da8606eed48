#!/usr/bin/env bash
# Counted lines of code and of tests: C++ files tracked by git, lines that are neither blank nor
# comment-only. Tests are tests/ and fuzz/; code is src/ and backend/src/.
set -euo pipefail
cd "$(dirname "$0")/.."
count() {
  git ls-files -co --exclude-standard -- "$@" | grep -E '\.(cpp|h|hpp|cc)$' | xargs -r cat \
    | grep -c -v -E '^\s*(//.*)?$' || true
}
code=$(count src backend/src)
tests=$(count tests fuzz)
total=$((code + tests))
share=$(awk -v t="$tests" -v n="$total" 'BEGIN { printf "%.1f", n ? 100 * t / n : 0 }')
echo "code (src/, backend/src/): $code lines"
echo "tests (tests/, fuzz/): $tests lines"
echo "tests share: $share %"
