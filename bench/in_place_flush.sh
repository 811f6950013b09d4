#!/usr/bin/env bash
# What flushing to stable storage costs an in-place run: converts a file on
# disk in place several times and reports the wall time of each run and the
# time spent in fsync (measured by strace, which traces only those calls),
# beside a plain output run of the same file (not flushed, like cp).
#
#   bench/in_place_flush.sh [SIZE_MB] [--dir DIR] [--runs N]
#
# SIZE_MB  size of the mixed-prose input (default 256)
# --dir    a folder on the disk to measure (default /var/tmp)
# --runs   runs per mode (default 5)
set -euo pipefail
cd "$(dirname "$0")/.."

size_mb=256
dir=/var/tmp
runs=5
while [ $# -gt 0 ]; do
    case "$1" in
        --dir) dir="$2"; shift 2 ;;
        --runs) runs="$2"; shift 2 ;;
        -h|--help) sed -n '2,12p' "$0"; exit 0 ;;
        *) size_mb="$1"; shift ;;
    esac
done
command -v strace >/dev/null || { echo "in_place_flush.sh: needs strace" >&2; exit 2; }

cmake --workflow --preset bench >/dev/null
corpora=$(mktemp -d /dev/shm/textmend-flush.XXXXXX)
work=$(mktemp -d "$dir/textmend-flush.XXXXXX")
trap 'rm -rf "$corpora" "$work"' EXIT
build/bench/bench/textmend_make_corpus "$corpora" "$size_mb"
input="$corpora/mixed-prose.txt"
program="$PWD/build/bench/textmend"

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
seconds_since() { awk -v start="$1" -v now="$(date +%s.%N)" 'BEGIN { print now - start }'; }

echo "In-place runs on $(df --output=fstype "$dir" | tail -1) ($dir), ${size_mb} MiB of mixed prose, $runs runs each"
echo
echo "| mode | plain output, s | in place, s | of which fsync, s |"
echo "|---|---|---|---|"
for flag in "" -u; do
    plain=() whole=() flush=()
    for _ in $(seq "$runs"); do
        cp "$input" "$work/f"
        sync
        start=$(date +%s.%N)
        "$program" $flag "$work/f" "$work/out"
        plain+=("$(seconds_since "$start")")
        rm -f "$work/out"
        sync
        start=$(date +%s.%N)
        strace -f -qq -T --seccomp-bpf -e trace=fsync -o "$work/trace" "$program" $flag "$work/f" "$work/f"
        whole+=("$(seconds_since "$start")")
        flush+=("$(sed -n 's/.*<\([0-9.]*\)>$/\1/p' "$work/trace" | awk '{ s += $1 } END { print s + 0 }')")
    done
    printf '| %s | %.2f | %.2f | %.2f |\n' "${flag:-default}" \
        "$(printf '%s\n' "${plain[@]}" | median)" "$(printf '%s\n' "${whole[@]}" | median)" \
        "$(printf '%s\n' "${flush[@]}" | median)"
done
