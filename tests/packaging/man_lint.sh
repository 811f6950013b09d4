#!/usr/bin/env bash
# The man pages must format without a single warning.
#   man_lint.sh SOURCE_DIR
set -euo pipefail
for page in "$1"/docs/*.1; do
    warnings=$(groff -man -ww -z "$page" 2>&1)
    [ -z "$warnings" ] || { echo "$page: $warnings"; exit 1; }
    echo "$(basename "$page"): no warnings"
done
