#!/usr/bin/env bash
# Checks the project's sources: clang-tidy with the checks of .clang-tidy
# over every .cpp of the project (generated moc files left out), and
# clang-format over every .cpp and .h. Prints each finding and exits non-zero
# when either finds anything.
#   tools/check_sources.sh [BUILD_DIR [FILE...]]
# BUILD_DIR defaults to build/ (built first when it has no
# compile_commands.json); FILEs limit the check to those sources.
set -u
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="$(realpath -m "${1:-$ROOT/build}")"
shift $(( $# > 0 ? 1 : 0 ))
cd "$ROOT"

TIDY=clang-tidy-14
FORMAT=clang-format-14
if ! command -v "$TIDY" >/dev/null || ! command -v "$FORMAT" >/dev/null; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "check_sources: please run: sudo apt-get install -y clang-tidy-14 clang-format-14" >&2
        exit 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q && apt-get install -y -q --no-install-recommends clang-tidy-14 clang-format-14 || exit 1
fi

# The compile commands name the generated headers the sources include
# (tests' .moc files): they exist once the build has run.
if [ ! -f "$BUILD/compile_commands.json" ]; then
    echo "check_sources: no $BUILD/compile_commands.json; building first" >&2
    (BUILD_TARGETS="" source "$ROOT/tools/setup.sh") || exit 1
    BUILD="$ROOT/build"
fi

failed=0
if [ $# -gt 0 ]; then
    ALL=("$@")
    mapfile -t SOURCES < <(printf '%s\n' "$@" | grep '\.cpp$')
else
    mapfile -t SOURCES < <(git ls-files '*.cpp')
    mapfile -t ALL < <(git ls-files '*.cpp' '*.h')
fi

start=$SECONDS
log="$(mktemp)"
trap 'rm -f "$log"' EXIT
# Two at a time, four files a run.
printf '%s\n' "${SOURCES[@]}" |
    xargs -P2 -n4 "$TIDY" -p "$BUILD" --quiet >"$log" 2>/dev/null
tidy_code=$?
grep -E 'warning:|error:' "$log" | sort -u >"$log.sum"
findings=$(wc -l <"$log.sum")
echo "clang-tidy: ${#SOURCES[@]} files in $(( SECONDS - start )) s, $findings findings"
if [ "$tidy_code" -ne 0 ] || [ "$findings" -ne 0 ]; then
    cat "$log"
    failed=1
fi
rm -f "$log.sum"

start=$SECONDS
if ! "$FORMAT" --dry-run -Werror "${ALL[@]}"; then
    echo "clang-format: run $FORMAT -i on the files above"
    failed=1
fi
echo "clang-format: ${#ALL[@]} files in $(( SECONDS - start )) s"
exit $failed
