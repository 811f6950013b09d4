#!/usr/bin/env bash
# Builds the release programs and times textmend against `cat in > out` and
# iconv, and textmend-report against `wc -l` and converting, on generated
# corpora (and on a file of 16 MiB and 1,000 of 16 KiB cut from them), and
# textmend through pipes (throughput and a line's latency), what undoing
# text encoded twice costs (bench/undo_bench.py); prints
# Markdown tables (docs/performance.md tells how to read them).
#
#   bench/run.sh [SIZE_MB] [--out-dir DIR] [--runs N] [--only CORPUS] [--against BIN] [--save]
#
# SIZE_MB   size of each generated input (default 256)
# --out-dir where the outputs are written (default /dev/shm, a tmpfs; give a
#           folder on disk to see what users see)
# --runs    rounds; each runs the commands in turn, then back (default 9)
# --only    one corpus: mixed-prose, utf8-prose, latin1-prose, ascii,
#           dense-utf8 or random-bytes
# --against another textmend binary (a previous version, say), run next
#           to this one in every round: adds its time as a paired ratio
# --save    also write the tables, headed by where and how they were taken
#           (machine, compiler, kernel set, Linux, settings, commit, date),
#           to bench/results/DATE-CPU.md
# --no-tree leave out textmend-tree's rows (bench/tree_bench.py: trees of
#           20,000 files in the output folder, about two minutes)
set -euo pipefail
cd "$(dirname "$0")/.."

size_mb=256
out_dir=/dev/shm
runs=9
only=()
against=()
save=0
tree=1
while [ $# -gt 0 ]; do
    case "$1" in
        --out-dir) out_dir="$2"; shift 2 ;;
        --runs) runs="$2"; shift 2 ;;
        --only) only=(--only "$2"); shift 2 ;;
        --against) against=(--against "$(realpath "$2")"); shift 2 ;;
        --save) save=1; shift ;;
        --no-tree) tree=0; shift ;;
        -h|--help) sed -n '2,20p' "$0"; exit 0 ;;
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

cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//; s/ *$//')
today=$(date -u +%Y-%m-%d)

# Where the figures come from: everything that moves them and that a reader
# needs to judge or repeat them. Settings are read, never changed.
provenance() {
    local compiler kernel_set commit thp reporting vm container virt
    compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' build/bench/CMakeCache.txt)
    compiler=$("$compiler" --version | head -n1)
    kernel_set=$(build/bench/bench/textmend_file_bench --kernels)
    commit=$(git rev-parse --short HEAD 2>/dev/null || echo unknown)
    [ -z "$(git status --porcelain --untracked-files=no 2>/dev/null)" ] || commit="$commit with uncommitted changes"
    thp=$(sed 's/.*\[\(.*\)\].*/\1/' /sys/kernel/mm/transparent_hugepage/enabled 2>/dev/null || echo unknown)
    reporting=$(cat /sys/module/page_reporting/parameters/min_free_ms 2>/dev/null || echo none)
    # systemd-detect-virt prints "none" (and fails) where there is none.
    vm=$(systemd-detect-virt --vm 2>/dev/null) || true
    container=$(systemd-detect-virt --container 2>/dev/null) || true
    virt="virtual machine: ${vm:-unknown}, container: ${container:-unknown}"
    echo "- Date: $today"
    echo "- Processor: $cpu, $(nproc) cores available; $virt"
    echo "- Compiler: $compiler; kernel set: $kernel_set"
    echo "- Linux $(uname -r); transparent huge pages: $thp; page_reporting min_free_ms: $reporting"
    echo "- Commit: $commit"
    echo "- Command: bench/run.sh $size_mb --runs $runs --out-dir $out_dir${only:+ ${only[*]}}${against:+ --against ${against[1]}}"
    echo "- Inputs: ${size_mb} MiB each, generated into $tmp_base; outputs in $out_dir"
}

report() {
    echo "# textmend benchmark, $today, $cpu"
    echo
    provenance
    echo
    build/bench/bench/textmend_make_corpus "$work" "$size_mb" >&2
    build/bench/bench/textmend_file_bench --textmend build/bench/textmend --report build/bench/textmend-report \
        --work "$work" --out "$out_dir" --runs "$runs" "${only[@]}" "${against[@]}"
    echo
    echo "## textmend-report on a file of 16 MiB and on 1,000 files of 16 KiB"
    echo
    python3 bench/report_bench.py build/bench "$work" --out "$tmp_base" --rounds "$runs"
    echo
    echo "## textmend reading a pipe"
    echo
    python3 bench/pipe_bench.py build/bench "$work" --rounds "$runs" ${only[1]:+--only "${only[1]}"} \
        ${against[1]:+--against "${against[1]}"}
    if [ ${#only[@]} -eq 0 ] || [ "${only[1]}" = mixed-prose ]; then
        echo
        echo "## Undoing text encoded twice (textmend-tree --undo-double)"
        echo
        python3 bench/undo_bench.py build/bench "$work" --out "$out_dir" --rounds "$runs"
    fi
    if [ "$tree" = 1 ]; then
        echo
        echo "## textmend-tree"
        echo
        python3 bench/tree_bench.py build/bench --dir "$out_dir"
    fi
}

if [ "$save" = 1 ]; then
    slug=$(echo "$cpu" | tr 'A-Z' 'a-z' | sed 's/([^)]*)//g; s/[^a-z0-9]\{1,\}/-/g; s/^-//; s/-$//')
    mkdir -p bench/results
    result="bench/results/$today-$slug.md"
    n=2
    while [ -e "$result" ]; do result="bench/results/$today-$slug-$n.md"; n=$((n + 1)); done
    report | tee "$result.partial"
    mv "$result.partial" "$result"
    echo
    echo "saved: $result"
else
    report
fi
