#!/usr/bin/env bash
# The engine and the library stand on their own: a file in src/encoding/,
# src/kernels/, src/convert/ or src/api/ includes (between quotes) only
# headers of those folders and the public ones under include/, never one
# of the programs (src/cli/, src/report/, src/tree/) or of the Python
# binding. Prints each include that breaks the rule; fails if there is one.
#
#   include_rules.sh SOURCE_DIR
set -euo pipefail
cd "$1"
status=0
while IFS= read -r line; do
    file=${line%%:*}
    header=$(sed -E 's/.*#[[:space:]]*include[[:space:]]*"([^"]+)".*/\1/' <<<"${line#*:}")
    case "$header" in
        encoding/* | kernels/* | convert/* | api/*)
            [[ -f "src/$header" ]] && continue ;;
        textmend/*)
            [[ -f "include/$header" ]] && continue ;;
    esac
    echo "$file includes \"$header\", which is not the engine's or the library's own"
    status=1
done < <(grep -rHE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' src/encoding src/kernels src/convert src/api)
exit "$status"
