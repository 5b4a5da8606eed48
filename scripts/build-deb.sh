#!/usr/bin/env bash
# build-deb.sh BUILD_DIR OUT_DIR: packs the CMake build in BUILD_DIR (built already) as
# OUT_DIR/zentrow_<version>_<arch>.deb with the debian/ rules, the way dpkg-buildpackage builds
# it from source, and checks it with lintian. Works on a copy of debian/, so the source tree and
# its parent folder get no build products.
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: build-deb.sh BUILD_DIR OUT_DIR" >&2; exit 2; }
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)
work=$(mktemp -d "$out/.deb.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/zentrow"
cp -r "$top/debian" "$work/zentrow/"
(cd "$work/zentrow" && ZENTROW_BUILD_DIR="$build" dpkg-buildpackage -b -us -uc --no-pre-clean >"$work/log" 2>&1) || {
    cat "$work/log" >&2
    exit 1
}
changes=$(ls "$work"/zentrow_*.changes)
for file in "$work"/*.deb "$work"/*.ddeb "$changes" "$work"/*.buildinfo; do
    [ -e "$file" ] && mv "$file" "$out/"
done
changes="$out/$(basename "$changes")"
echo "built: $(ls "$out"/zentrow_*.deb | tr '\n' ' ')"
if command -v lintian >/dev/null; then
    lintian --fail-on error,warning "$changes"
fi
