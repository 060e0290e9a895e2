#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, the "fuzz" preset) and runs each for SECONDS (default 60)
# on its corpus, one after another. New inputs the fuzzer finds go to build/fuzz/corpus; the seeds
# in fuzz/corpus stay as they are. Stops at the first crash; its input is in build/fuzz/crashes.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"

scripts/install-deps.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

mkdir -p build/fuzz/crashes
for bin in build/fuzz/fuzz/fuzz_*; do
    [ -f "$bin" ] && [ -x "$bin" ] || continue
    name="${bin##*/fuzz_}"
    mkdir -p "build/fuzz/corpus/$name"
    echo "== $name: ${seconds}s"
    log="build/fuzz/$name.log"
    status=0
    "$bin" -max_total_time="$seconds" -max_len=10000 -timeout=10 -print_final_stats=1 \
        -artifact_prefix="build/fuzz/crashes/$name-" \
        "build/fuzz/corpus/$name" "fuzz/corpus/$name" >"$log" 2>&1 || status=$?
    grep -E '^stat::(number_of_executed_units|average_exec_per_sec)' "$log" || true
    if [ "$status" -ne 0 ]; then
        tail -n 40 "$log" >&2
        echo "fuzz_$name found a crash: its input is in build/fuzz/crashes/" >&2
        exit 1
    fi
done
