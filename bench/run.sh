#!/usr/bin/env bash
# Builds the release programs and times textmend against `cat in > out` and
# iconv, and textmend-report against converting, on generated corpora; prints
# Markdown tables (see README, Performance).
#
#   bench/run.sh [SIZE_MB] [--out-dir DIR] [--runs N] [--only CORPUS] [--against BIN]
#
# SIZE_MB   size of each generated input (default 256)
# --out-dir where the outputs are written (default /dev/shm, a tmpfs; give a
#           folder on disk to see what users see)
# --runs    rounds; each runs the commands in turn, then back (default 9)
# --only    one corpus: mixed-prose, utf8-prose, latin1-prose, ascii,
#           dense-utf8 or random-bytes
# --against another textmend binary (a previous version, say), run next
#           to this one in every round: adds its time as a paired ratio
set -euo pipefail
cd "$(dirname "$0")/.."

size_mb=256
out_dir=/dev/shm
runs=9
only=()
against=()
while [ $# -gt 0 ]; do
    case "$1" in
        --out-dir) out_dir="$2"; shift 2 ;;
        --runs) runs="$2"; shift 2 ;;
        --only) only=(--only "$2"); shift 2 ;;
        --against) against=(--against "$(realpath "$2")"); shift 2 ;;
        -h|--help) sed -n '2,15p' "$0"; exit 0 ;;
        *) size_mb="$1"; shift ;;
    esac
done
[ -d "$out_dir" ] || { echo "run.sh: no such folder: $out_dir" >&2; exit 2; }

cmake --workflow --preset bench >/dev/null

# The inputs live on tmpfs when there is one, so they stay in memory.
tmp_base=/dev/shm
[ -d "$tmp_base" ] && [ -w "$tmp_base" ] || tmp_base="${TMPDIR:-/tmp}"
work=$(mktemp -d "$tmp_base/textmend-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "textmend benchmark: $(date -u +%Y-%m-%d), $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo
echo "Inputs: ${size_mb} MiB each, generated into $work (in memory); outputs in $out_dir"
echo
build/bench/bench/textmend_make_corpus "$work" "$size_mb"
build/bench/bench/textmend_file_bench --textmend build/bench/textmend --report build/bench/textmend-report \
    --work "$work" --out "$out_dir" --runs "$runs" "${only[@]}" "${against[@]}"
