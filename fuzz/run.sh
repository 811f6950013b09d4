#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for SECONDS, starting from the
# seed corpus. Exits non-zero on any finding; the crashing input is left in
# build/fuzz/findings/.
#
#   fuzz/run.sh [SECONDS]     (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"

cmake --workflow --preset fuzz >/dev/null
mkdir -p build/fuzz/findings
status=0
for target in fuzz_engine fuzz_differential fuzz_inspect fuzz_streams fuzz_double; do
    corpus="build/fuzz/corpus/$target"
    mkdir -p "$corpus"
    echo "== $target for ${seconds}s"
    if ! "build/fuzz/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix=build/fuzz/findings/ "$corpus" fuzz/seeds 2> "build/fuzz/$target.log"; then
        status=1
        tail -40 "build/fuzz/$target.log"
    fi
    grep -E "^(Done|stat::number_of_executed_units)" "build/fuzz/$target.log" || true
done
exit "$status"
