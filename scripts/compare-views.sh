#!/usr/bin/env bash
# Shows that a change is invisible to users: builds two revisions, renders the same views with
# fixed data in each (the popover collapsed, with a row expanded and searching; both settings
# tabs; zh_CN and en_US; scale 1 and 2) and records the status item over a scripted add, pin, move,
# refresh and remove, then compares the images pixel for pixel and the transcripts line for line.
#
#   scripts/compare-views.sh BASE [OTHER]     revisions; OTHER defaults to HEAD
#
# Both revisions are built with this tree's tools/ (the renderer) and test helpers. Work goes to
# $COMPARE_DIR (default: a new temporary folder), which is kept so the images can be looked at.
# Exits 0 only when every image and transcript matches.
set -euo pipefail

top=$(git rev-parse --show-toplevel)
base=${1:?usage: compare-views.sh BASE [OTHER]}
other=${2:-HEAD}
work=${COMPARE_DIR:-$(mktemp -d /tmp/compare-views.XXXXXX)}
mkdir -p "$work"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)

render() { # revision, name
    # The build sits inside its tree, as in a checkout, so ccache finds what the checkout built.
    local src="$work/$2" build="$work/$2/build" out="$work/out-$2"
    rm -rf "$out"
    find "$src" -mindepth 1 -maxdepth 1 ! -name build -exec rm -rf {} + 2>/dev/null || true
    mkdir -p "$src" "$out"
    git -C "$top" archive "$1" | tar -x -C "$src"
    rm -rf "$src/tools"
    cp -r "$top/tools" "$src/tools"
    grep -q 'add_subdirectory(tools)' "$src/CMakeLists.txt" ||
        printf '\nif(TARGET zentrow_shell)\n    add_subdirectory(tools)\nendif()\n' >>"$src/CMakeLists.txt"
    cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZENTROW_BUILD_TESTS=OFF \
        -DZENTROW_BUILD_BENCH=OFF -DVIEWSHOTS_TESTLIB_DIR="$top/tests/testlib" "${launcher[@]}" >"$work/$2-configure.log"
    cmake --build "$build" --target viewshots -j2 >"$work/$2-build.log" ||
        { echo "compare-views: building $1 failed, see $work/$2-build.log" >&2; exit 2; }
    for locale in zh_CN en_US; do
        for scale in 1 2; do
            dbus-run-session -- "$build/tools/viewshots" --out "$out/$locale-${scale}x" --scale "$scale" \
                --locale "$locale" 2>>"$work/$2-viewshots.log" ||
                { echo "compare-views: rendering $1 ($locale, ${scale}x) failed, see $work/$2-viewshots.log" >&2; exit 2; }
        done
    done
}

render "$base" a
render "$other" b

status=0
files=$(cd "$work/out-a" && find . -type f | sort)
if [ "$files" != "$(cd "$work/out-b" && find . -type f | sort)" ]; then
    echo "The two revisions rendered different sets of files." >&2
    status=1
fi
count=0
for f in $files; do
    count=$((count + 1))
    case "$f" in
    *.png) "$work/b/build/tools/viewshots" --compare "$work/out-a/$f" "$work/out-b/$f" || status=1 ;;
    *) diff -u "$work/out-a/$f" "$work/out-b/$f" || status=1 ;;
    esac
done
if [ $status -eq 0 ]; then
    echo "compare-views: $count files match between $base and $other ($work)"
else
    echo "compare-views: $base and $other differ ($work)" >&2
fi
exit $status
