#!/usr/bin/env bash
# Runs one fuzzer for a bounded time on its corpus in WORK (the seeds copied
# in; what earlier runs found is kept). A crash, a leak, a sanitizer report, a
# slow input or running out of memory fails it and leaves the input that did it
# in WORK/crashes.
# Usage: run_fuzzer.sh FUZZER SEEDS WORK SECONDS [DICTIONARY]
set -u
fuzzer=$1
seeds=$2
work=$3
seconds=$4
dict=${5:-}
if [ ! -x "$fuzzer" ]; then
    echo "FAIL: no fuzzer at $fuzzer (the host build makes it)"
    exit 1
fi
rm -rf "$work/crashes"
mkdir -p "$work/corpus" "$work/crashes"
cp "$seeds"/* "$work/corpus/"
args=(-max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -max_len=4096
    -artifact_prefix="$work/crashes/" -print_final_stats=1)
[ -n "$dict" ] && args+=(-dict="$dict")
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
"$fuzzer" "${args[@]}" "$work/corpus" >"$work/fuzz.log" 2>&1
status=$?
grep -v '^#[0-9]' "$work/fuzz.log" | tail -n 40
if [ "$status" -ne 0 ] || [ -n "$(ls -A "$work/crashes")" ]; then
    echo "FAIL: $(basename "$fuzzer") stopped with status $status; to replay:"
    for f in "$work/crashes"/*; do echo "  $fuzzer $f"; done
    exit 1
fi
echo "$(basename "$fuzzer"): no fault in ${seconds} s, corpus of $(ls "$work/corpus" | wc -l) inputs"
