#!/usr/bin/env bash
# Runs every fuzz target for SECONDS (default 30), two at a time, in the
# checked build (build-asan/, built first if needed), starting from its seeds
# in tests/fuzz/corpus/<target>/. New inputs go to a scratch folder, not into
# the repository. An input that breaks a target is kept as
# build-asan/fuzz-artifacts/<target>-crash-*: copy it into corpus/<target>/
# as regress-<what> once the fault is fixed.
#   tests/fuzz/run.sh [SECONDS] [TARGET...]
set -u
EACH="${1:-30}"
shift $(( $# > 0 ? 1 : 0 ))
HERE="$(cd "$(dirname "$0")" && pwd)"
TARGETS=("$@")
if [ ${#TARGETS[@]} -eq 0 ]; then
    for src in "$HERE"/fuzz_*.cpp; do TARGETS+=("$(basename "$src" .cpp)"); done
fi

SETUP_SANITIZE=1
BUILD_TARGETS="${TARGETS[*]}"
source "$HERE/../../tools/setup.sh"

ARTIFACTS="$BUILD_DIR/fuzz-artifacts"
SCRATCH="$(mktemp -d)"
trap 'rm -rf "$SCRATCH"' EXIT
mkdir -p "$ARTIFACTS"
# Two targets at a time, one per core.
JOBS="${FUZZ_JOBS:-2}"
run_one() {
    local target="$1" name="${1#fuzz_}"
    local log="$ARTIFACTS/$target.log" start
    mkdir -p "$SCRATCH/$name"
    start=$(date +%s)
    QT_QPA_PLATFORM=offscreen "$BUILD_DIR/$target" -max_total_time="$EACH" -timeout=60 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$ARTIFACTS/$target-" \
        "$SCRATCH/$name" "$HERE/corpus/$name" >"$log" 2>&1
    local code=$?
    local runs found
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$')
    found=$(ls "$SCRATCH/$name" | wc -l)
    echo "$target: ${runs:-?} inputs in $(( $(date +%s) - start )) s, $found new in the corpus, exit $code" \
        >"$SCRATCH/$target.result"
    echo $code >"$SCRATCH/$target.code"
}
for target in "${TARGETS[@]}"; do
    while [ "$(jobs -rp | wc -l)" -ge "$JOBS" ]; do wait -n; done
    run_one "$target" &
done
wait
failed=()
for target in "${TARGETS[@]}"; do
    cat "$SCRATCH/$target.result"
    if [ "$(cat "$SCRATCH/$target.code")" != 0 ]; then
        failed+=("$target")
        grep -B2 -A30 -m1 -E 'ERROR|invariant broken|runtime error' "$ARTIFACTS/$target.log" | head -60
        echo "  log: $ARTIFACTS/$target.log"
    fi
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "FAILED: ${failed[*]}"
    exit 1
fi
