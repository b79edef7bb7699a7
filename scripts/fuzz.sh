#!/bin/sh
# Builds the libFuzzer targets (clang, AddressSanitizer + UBSan) in build/fuzz and runs each over its
# corpus, one after another:
#   scripts/fuzz.sh [--quick] [--runs N | --seconds S] [target...]
# Default: every target of fuzz/, 1000 runs each. --quick builds without optimisation, in
# build/fuzz-quick: a faster build and slower runs, for the short runs of scripts/test.sh.
# The seeds in fuzz/corpus/<target> are read, never written: what a run finds new goes to
# build/fuzz/corpus/<target>. A crash, leak, undefined behaviour, hang (10 s on one input) or broken
# property ends that target's run with the input saved under build/fuzz/findings/<target>/; the other
# targets still run and the script exits non-zero. Replay one: build/fuzz/fuzz/fuzz_<target> FILE.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
dir="$top/build/fuzz"
jobs=$(nproc 2>/dev/null || echo 2)
# -O1 with line tables: fast enough to fuzz, quick to build, stack traces with lines; asserts stay on.
optimisation="-O1"

limit="-runs=1000"
while [ $# -gt 0 ]; do
    case "$1" in
        --quick) optimisation="-O0"; dir="$top/build/fuzz-quick"; shift ;;
        --runs) limit="-runs=$2"; shift 2 ;;
        --seconds) limit="-max_total_time=$2"; shift 2 ;;
        --*) echo "fuzz.sh: unknown option $1 (--quick, --runs N or --seconds S)" >&2; exit 2 ;;
        *) break ;;
    esac
done
if [ $# -gt 0 ]; then
    targets="$*"
else
    targets=$(cd "$top/fuzz" && ls -- *.cpp | sed -n 's/\.cpp$//p' | grep -v '^fuzz_support$')
fi

"$top/scripts/install-deps.sh"
CC=clang CXX=clang++ cmake -S "$top" -B "$dir" -DCMAKE_BUILD_TYPE=Fuzz \
    -DCMAKE_C_FLAGS_FUZZ="$optimisation -gline-tables-only" -DCMAKE_CXX_FLAGS_FUZZ="$optimisation -gline-tables-only" \
    -DQUORVANTI_FUZZ=ON -DQUORVANTI_TESTS=OFF -DQUORVANTI_BENCH=OFF >/dev/null
build_targets=""
for t in $targets; do build_targets="$build_targets --target fuzz_$t"; done
# shellcheck disable=SC2086
cmake --build "$dir" -j "$jobs" $build_targets

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:symbolize=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
passed=0
failed=0
for t in $targets; do
    seeds="$top/fuzz/corpus/$t"
    work="$dir/corpus/$t"
    findings="$dir/findings/$t"
    mkdir -p "$work" "$findings" "$seeds"
    log="$dir/$t.log"
    start=$(date +%s.%N)
    status=0
    "$dir/fuzz/fuzz_$t" "$limit" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$findings/" "$work" "$seeds" >"$log" 2>&1 || status=$?
    end=$(date +%s.%N)
    seconds=$(awk "BEGIN { printf \"%.1f\", $end - $start }")
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    if [ "$status" -eq 0 ]; then
        passed=$((passed + 1))
        echo "fuzz: $t clean: ${runs:-?} inputs in ${seconds} s"
    else
        failed=$((failed + 1))
        echo "fuzz: $t FAILED (exit $status) after ${seconds} s; input in $findings/, log $log:"
        grep -v '^#\|^INFO:\|^MS:\|^base64:\|^stat::\|NEW_FUNC\|^NOTE:\|^ *Combine libFuzzer\|^"' "$log" | tail -n 40
    fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
