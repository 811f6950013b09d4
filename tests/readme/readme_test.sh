#!/usr/bin/env bash
# Reads README.md as a new user would, top to bottom, and runs every ```sh
# block in a scratch copy of the project (HOME inside it, ~/.local/bin first
# on PATH), with the files its examples name made from the shipped sample.
# Each block runs with `bash -e`: every command in it must succeed. A marker
# on the line just before a block changes that:
#   <!-- README test: skip, REASON -->   not run; the reason is printed
#   <!-- README test: run by .ci/run --> not run here (the test suite cannot
#       run itself); every command line of the block must be a line of .ci/run
# It also holds the README to its shape: at most 350 lines, the first
# headings a user looks for within the first 150, no commit hash but the
# performance table's provenance, and that table copied from the results
# file it names.
#   readme_test.sh SOURCE_DIR
set -euo pipefail
source_dir=$(realpath "$1")
readme="$source_dir/README.md"
fail() { echo "readme_test: $*"; exit 1; }

# --- the shape -------------------------------------------------------------
lines=$(wc -l < "$readme")
[ "$lines" -le 350 ] || fail "README.md has $lines lines; at most 350"
for heading in '## Install' '### Usage' '### Exit status' '### Python'; do
    at=$(grep -n -m1 -x -- "$heading" "$readme" | cut -d: -f1) || fail "no heading '$heading'"
    [ "$at" -le 150 ] || fail "'$heading' is at line $at; it belongs within the first 150"
done
provenance=$(grep -n '^Measured on ' "$readme") || fail "no provenance line ('Measured on ...') under the performance table"
[ "$(echo "$provenance" | wc -l)" = 1 ] || fail "more than one provenance line"
# A commit hash: 7 to 40 hex digits, at least one of them a digit and one a letter.
hashes=$({ grep -n -o -w -E '[0-9a-f]{7,40}' "$readme" || true; } | awk -F: '$2 ~ /[0-9]/ && $2 ~ /[a-f]/ {print $1}' | sort -u)
[ -z "$hashes" ] || [ "$hashes" = "${provenance%%:*}" ] ||
    fail "a commit hash outside the provenance line, at line(s) $(echo $hashes)"
results=$(echo "$provenance" | grep -o 'bench/results/[^ )`]*\.md') || fail "the provenance line names no bench/results file"
[ -f "$source_dir/$results" ] || fail "$results does not exist"
# The README's table is the summary table of that file, row for row.
table=$(awk '/^## Performance$/ {on = 1} on && /^\|/ {print} on && /^Measured on / {exit}' "$readme")
[ -n "$table" ] || fail "no table under ## Performance"
while IFS= read -r row; do
    grep -qxF -- "$row" "$source_dir/$results" || fail "table row not in $results: $row"
done <<< "$table"

# --- the blocks ------------------------------------------------------------
scratch=$(mktemp -d "${TMPDIR:-/tmp}/textmend-readme.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
project="$scratch/project"
mkdir -p "$project" "$scratch/home" "$scratch/blocks"
tar -C "$source_dir" --exclude=./build --exclude=./.git -cf - . | tar -C "$project" -xf -

# The files the examples name, from the sample (a mixed file).
sample="$project/examples/mixed.txt"
for name in export.csv today.txt notes.txt; do cp "$sample" "$project/$name"; done
gzip -c "$sample" > "$project/archive.mbox.gz"
mkdir -p "$project/subtitles/season 1"
cp "$sample" "$project/subtitles/season 1/01.srt"
cp "$sample" "$project/subtitles/02.srt"

# Splits the README into blocks: blocks/N.sh, and blocks/N.how holding the
# block's first line number and its marker (or nothing).
awk -v dir="$scratch/blocks" '
    /^```sh$/ && !inside { inside = 1; n++; printf "%d\t%s\n", NR + 1, marker > (dir "/" n ".how"); next }
    /^```/ && inside { inside = 0; marker = ""; next }
    inside { print > (dir "/" n ".sh"); next }
    { marker = ($0 ~ /^<!-- README test: /) ? $0 : "" }
' "$readme"

export HOME="$scratch/home"
export PATH="$HOME/.local/bin:$PATH"
ran=0
for how in $(ls "$scratch/blocks"/*.how | sort -V); do
    block="${how%.how}.sh"
    IFS=$'\t' read -r line marker < "$how"
    case "$marker" in
        "")
            echo "README.md:$line: running"
            sed 's/^/    /' "$block"
            (cd "$project" && bash -e "$block") || fail "the block at README.md:$line failed"
            ran=$((ran + 1)) ;;
        "<!-- README test: skip, "*" -->")
            reason="${marker#<!-- README test: skip, }"
            echo "README.md:$line: skipped: ${reason% -->}" ;;
        "<!-- README test: run by .ci/run -->")
            while IFS= read -r command; do
                [ -z "$command" ] || grep -qxF -- "$command" "$source_dir/.ci/run" ||
                    fail "README.md:$line: '$command' is marked as run by .ci/run, which does not run it"
            done < "$block"
            echo "README.md:$line: run by .ci/run" ;;
        *) fail "README.md:$line: unknown marker: $marker" ;;
    esac
done
[ "$ran" -gt 0 ] || fail "no block ran"
echo "readme: $ran blocks ran"
