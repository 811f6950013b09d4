#!/usr/bin/env bash
# The man page must format without a single warning.
#   man_lint.sh SOURCE_DIR
set -euo pipefail
warnings=$(groff -man -ww -z "$1/docs/textmend.1" 2>&1)
[ -z "$warnings" ] || { echo "$warnings"; exit 1; }
echo "man page: no warnings"
