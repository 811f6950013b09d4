#!/usr/bin/env bash
# What each part of the source may include (between quotes):
# - the engine and the library (src/encoding/, src/kernels/, src/convert/,
#   src/api/) only headers of those folders and the public ones under
#   include/, never one of the programs or of the Python binding;
# - the shared unit for names (src/names/) only itself, the encoding rules
#   and the public headers;
# - textmend-report, textmend-tree and the Python binding (src/report/,
#   src/tree/, python/module/) the public headers, src/names/, their own
#   headers, and of textmend's file layer only cli/file_layer.hpp; never the
#   engine's headers.
# Shared files of the programs have no _WIN32: what differs between systems
# is in files named *_posix.* and *_windows.*. Prints each break of a rule;
# fails if there is one.
#
#   include_rules.sh SOURCE_DIR
set -euo pipefail
cd "$1"
status=0

# allowed FILE HEADER: whether FILE may include HEADER.
allowed() {
    local file=$1 header=$2
    case "$header" in
        textmend/*) [[ -f "include/$header" ]]; return ;;
    esac
    case "$file" in
        src/encoding/* | src/kernels/* | src/convert/* | src/api/*)
            case "$header" in
                encoding/* | kernels/* | convert/* | api/*) [[ -f "src/$header" ]]; return ;;
            esac ;;
        src/names/*)
            case "$header" in
                names/* | encoding/*) [[ -f "src/$header" ]]; return ;;
            esac ;;
        src/report/* | src/tree/*)
            local own=${file#src/}
            own=${own%%/*}
            case "$header" in
                cli/file_layer.hpp | names/* | "$own"/*) [[ -f "src/$header" ]]; return ;;
            esac ;;
        python/module/*)
            case "$header" in
                cli/file_layer.hpp | names/*) [[ -f "src/$header" ]]; return ;;
                */*) return 1 ;;
                *) [[ -f "python/module/$header" ]]; return ;;
            esac ;;
    esac
    return 1
}

while IFS= read -r line; do
    file=${line%%:*}
    header=$(sed -E 's/.*#[[:space:]]*include[[:space:]]*"([^"]+)".*/\1/' <<<"${line#*:}")
    allowed "$file" "$header" && continue
    echo "$file includes \"$header\", which its folder may not include"
    status=1
done < <(grep -rHE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' \
    src/encoding src/kernels src/convert src/api src/names src/report src/tree python/module)

while IFS= read -r file; do
    case "$file" in
        *_posix.* | *_windows.*) continue ;;
    esac
    echo "$file tests _WIN32; what differs between systems belongs in *_posix / *_windows files"
    status=1
done < <(grep -rlE '_WIN32' src/cli src/names src/report src/tree python/module | sort)
exit "$status"
