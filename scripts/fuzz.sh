#!/usr/bin/env bash
# Usage: scripts/fuzz.sh [SECONDS [RUNS]]
# Builds the libFuzzer targets (clang, the "fuzz" preset) and runs each on its corpus, one after
# another, for SECONDS (default 60) or, when RUNS is given, until it has made RUNS executions,
# whichever comes first. CI runs it with a few seconds per target; a long run is, for example,
# `nice -n 19 scripts/fuzz.sh 1800 10000000`. New inputs the fuzzer finds go to
# build/fuzz/corpus; the seeds in fuzz/corpus stay as they are. Stops at the first crash; its
# input is in build/fuzz/crashes. Ends with a table: executions, seconds and executions per second
# for each target. A target that takes more than 512 MB (one allocation or in all) or 10 s on one
# input has found something too: outside data must never decide how much memory is taken.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
runs="${2:--1}"
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ && "$runs" =~ ^(-1|[1-9][0-9]*)$ ]]; then
    echo "usage: $0 [SECONDS [RUNS]]" >&2
    exit 2
fi

scripts/install-deps.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

mkdir -p build/fuzz/crashes
summary="$(printf '%-18s %12s %8s %10s' target executions seconds exec/s)"
for bin in build/fuzz/fuzz/fuzz_*; do
    [ -f "$bin" ] && [ -x "$bin" ] || continue
    name="${bin##*/fuzz_}"
    mkdir -p "build/fuzz/corpus/$name"
    echo "== $name: ${seconds}s"
    log="build/fuzz/$name.log"
    status=0
    start=$(date +%s)
    "$bin" -max_total_time="$seconds" -runs="$runs" -max_len=10000 -timeout=10 -rss_limit_mb=512 \
        -print_final_stats=1 -artifact_prefix="build/fuzz/crashes/$name-" \
        "build/fuzz/corpus/$name" "fuzz/corpus/$name" >"$log" 2>&1 || status=$?
    took=$(($(date +%s) - start))
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    summary+="$(printf '\n%-18s %12s %8s %10s' "$name" "${executions:-?}" "$took" "${rate:-?}")"
    if [ "$status" -ne 0 ]; then
        tail -n 40 "$log" >&2
        echo "fuzz_$name found a crash: its input is in build/fuzz/crashes/" >&2
        exit 1
    fi
done
echo "$summary"
