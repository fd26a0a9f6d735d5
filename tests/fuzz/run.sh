#!/bin/sh
# Runs every fuzz target of a fuzz build for a bounded time.
#   sh tests/fuzz/run.sh BUILD_DIR [SECONDS_PER_TARGET]
# Each target starts from a copy of its seeds in BUILD_DIR/fuzz-work/<name>,
# so the corpus kept in the repository is never changed. Prints executions
# per target; exits non-zero when any target found a crash (the input that
# caused it is left in the work folder).
set -u

build=${1:?usage: run.sh BUILD_DIR [SECONDS]}
seconds=${2:-60}
seeds=$(cd "$(dirname "$0")" && pwd)/corpus
work=$build/fuzz-work

found=0
for program in "$build"/fuzzers/fuzz_*; do
    [ -x "$program" ] || continue
    found=1
done
if [ "$found" = 0 ]; then
    echo "run.sh: no fuzz targets in $build/fuzzers" >&2
    exit 2
fi

failed=0
summary=""
for program in "$build"/fuzzers/fuzz_*; do
    [ -x "$program" ] || continue
    name=$(basename "$program")
    dir=$work/$name
    rm -rf "$dir"
    mkdir -p "$dir/corpus"
    if [ -d "$seeds/$name" ]; then
        cp "$seeds/$name"/* "$dir/corpus/" 2>/dev/null
    fi
    echo "== $name: $seconds s"
    "$program" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$dir/" "$dir/corpus" >"$dir/log" 2>&1
    status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log" | tail -n 1)
    [ -n "$runs" ] || runs=$(sed -n 's/^Done \([0-9]*\) runs.*/\1/p' "$dir/log" | tail -n 1)
    [ -n "$runs" ] || runs="?"
    if [ "$status" -eq 0 ]; then
        result="ok"
    else
        result="CRASH (exit $status)"
        failed=$((failed + 1))
        # The sanitizer's or the check's report, and the input kept.
        grep -E 'ERROR:|check failed|SUMMARY:|runtime error|^ours|^format|Test unit written' \
            "$dir/log" | head -n 12
        echo "   full log: $dir/log"
    fi
    line=$(printf '%-24s %12s executions  %s' "$name" "$runs" "$result")
    echo "$line"
    summary="$summary$line
"
done

echo
echo "Fuzzing summary ($seconds s per target):"
printf '%s' "$summary"
if [ "$failed" -ne 0 ]; then
    echo "$failed target(s) crashed"
    exit 1
fi
echo "no crashes"
