#!/bin/sh
# Runs every fuzz target for longer than the test suite does:
#   fuzz/run_campaign.sh [seconds per target, default 300]
# Builds the fuzz preset (clang, libFuzzer, ASan+UBSan) in build-fuzz, then
# runs each target in turn from a copy of its corpus in
# build-fuzz/fuzz-work/<target>/, stopping at the first failure. The summary
# of each run (executions, coverage, corpus) is printed at the end; new
# inputs stay in the build tree. With MERGE=1 the corpus in fuzz/corpus/ is
# replaced by the minimised union of itself and the run's findings.
set -eu
SECONDS_PER_TARGET=${1:-300}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD_DIR:-$ROOT/build-fuzz}
TARGETS=$(ls "$ROOT/fuzz/corpus")

cmake --preset fuzz -S "$ROOT" -B "$BUILD" >/dev/null
# shellcheck disable=SC2086
cmake --build "$BUILD" -j "${JOBS:-2}" --target $TARGETS

mkdir -p "$BUILD/fuzz-work"
for target in $TARGETS; do
    # No pipe here: a failing run must stop the campaign.
    cmake -DFUZZER="$BUILD/bin/$target" -DCORPUS="$ROOT/fuzz/corpus/$target" \
          -DWORK_DIR="$BUILD/fuzz-work/$target" -DSECONDS="$SECONDS_PER_TARGET" \
          -P "$ROOT/cmake/RunFuzzer.cmake" >"$BUILD/fuzz-work/$target.out" 2>&1 ||
        { tail -n 60 "$BUILD/fuzz-work/$target.out"; exit 1; }
    tail -n 1 "$BUILD/fuzz-work/$target.out"
    if [ "${MERGE:-0}" = 1 ]; then
        merged="$BUILD/fuzz-work/$target/merged"
        mkdir -p "$merged"
        "$BUILD/bin/$target" -merge=1 -max_len=4096 "$merged" "$ROOT/fuzz/corpus/$target" \
            "$BUILD/fuzz-work/$target/corpus" >/dev/null 2>&1
        rm -f "$ROOT/fuzz/corpus/$target"/*
        cp "$merged"/* "$ROOT/fuzz/corpus/$target/"
    fi
done

echo "Fuzzing campaign, $SECONDS_PER_TARGET s per target:"
for target in $TARGETS; do
    cat "$BUILD/fuzz-work/$target/stats.txt"
done
