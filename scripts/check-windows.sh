#!/usr/bin/env bash
# Cross-builds textmend.exe with mingw-w64 and checks it under wine against
# the native program: conversion in all three modes (a large file too, which
# is written on a second thread), binary mode (CR LF and
# 0x1A come through), the usage text and the exit statuses, messages ending
# in CR LF, file names as given (control bytes escaped), in-place conversion
# (an unchanged file is not replaced, a read-only one refused),
# textmend-report's JSON, and textmend-tree over a folder (files repaired as
# the native program repairs them, binary files and version control left
# alone, a link to a folder outside not entered, --dry-run). Wine shows a
# link to a file as the file itself, so only links to folders are checked.
#
# Needs Debian's g++-mingw-w64-x86-64-posix and wine64:
#   apt-get install g++-mingw-w64-x86-64-posix wine64
set -euo pipefail
cd "$(dirname "$0")/.."

missing() { echo "check-windows: $1 is missing (apt-get install g++-mingw-w64-x86-64-posix wine64)" >&2; exit 2; }
command -v x86_64-w64-mingw32-g++-posix >/dev/null || missing "x86_64-w64-mingw32-g++-posix"
# Debian's wine64 package keeps its programs in /usr/lib/wine.
PATH="$PATH:/usr/lib/wine"
wine=$(command -v wine64 || command -v wine || true)
[ -n "$wine" ] || missing wine64

cmake --workflow --preset windows >/dev/null
cmake --workflow --preset release >/dev/null
exe="$PWD/build/windows/textmend.exe"
native="$PWD/build/release/textmend"
report_exe="$PWD/build/windows/textmend-report.exe"
native_report="$PWD/build/release/textmend-report"
tree_exe="$PWD/build/windows/textmend-tree.exe"
native_tree="$PWD/build/release/textmend-tree"

work=$(mktemp -d)
export WINEPREFIX="$work/wineprefix" WINEDEBUG=-all
trap '(wineserver -k || wineserver64 -k) >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
cd "$work"
"$wine" cmd /c exit 0 >/dev/null 2>&1 || true   # sets up the wine prefix once

failures=0
check() {  # check NAME CONDITION...
    local name="$1"; shift
    if "$@"; then echo "ok      $name"; else echo "FAILED  $name"; failures=$((failures + 1)); fi
}
run_exe() {  # run_exe ARGS...: sets status; stderr in err.txt
    status=0
    "$wine" "$exe" "$@" 2> err.txt || status=$?
}
crlf() { sed 's/$/\r/' "$@"; }

cp "$OLDPWD/examples/mixed.txt" mixed.txt
printf 'line one\r\nline two\r\n\032end\0\r\n' > binary.txt
for flag in "" -w -u; do
    "$native" $flag mixed.txt "native$flag.txt"
    run_exe $flag mixed.txt "windows$flag.txt"
    check "mode '${flag:-default}': status 0" test "$status" = 0
    check "mode '${flag:-default}': same bytes as the native program" cmp -s "native$flag.txt" "windows$flag.txt"
    run_exe $flag binary.txt "binary$flag.txt"
    check "mode '${flag:-default}': CR LF, 1A and NUL come through" cmp -s binary.txt "binary$flag.txt"
done

# Large enough for the writer thread: converted and written on two threads.
cp mixed.txt large.txt
for i in $(seq 11); do cat large.txt large.txt > doubled.txt && mv doubled.txt large.txt; done  # 2.6 MB
for flag in "" -u; do
    "$native" $flag large.txt "native-large$flag.txt"
    run_exe $flag large.txt "windows-large$flag.txt"
    check "large file, mode '${flag:-default}': same bytes as the native program" cmp -s "native-large$flag.txt" "windows-large$flag.txt"
    cp large.txt "in-place$flag.txt"
    run_exe $flag "in-place$flag.txt" "in-place$flag.txt"
    check "large file in place, mode '${flag:-default}': same bytes" cmp -s "native-large$flag.txt" "in-place$flag.txt"
done

"$native" 2> native-usage.txt || true
run_exe
check "no arguments: status 1" test "$status" = 1
check "usage text with CR LF line ends" cmp -s <(crlf native-usage.txt) err.txt

run_exe -x in.txt out.txt
check "unknown option: status 1" test "$status" = 1

run_exe "missing 100%.txt" out.txt
check "missing input: status 2" test "$status" = 2
check "missing input: message with the name as given, then the usage" \
    cmp -s <(printf 'Cannot open input file missing 100%%.txt\r\n\r\n'; crlf native-usage.txt) err.txt
check "missing input: no output created" test ! -e out.txt

run_exe mixed.txt 'no\such\dir\out.txt'
check "output in a missing folder: status 3" test "$status" = 3

cp mixed.txt 'in place.txt'
run_exe -u 'in place.txt' 'in place.txt'
check "in place: status 0" test "$status" = 0
check "in place: converted content" cmp -s native-u.txt 'in place.txt'
check "in place: no temporary file left" test -z "$(ls -A | grep textmend- || true)"

printf 'plain ASCII\r\n' > unchanged.txt
touch -d @1000000000 unchanged.txt
run_exe -u unchanged.txt unchanged.txt
check "in place, nothing to change: status 0" test "$status" = 0
check "in place, nothing to change: the file is not replaced" test "$(stat -c %Y unchanged.txt)" = 1000000000

cp mixed.txt readonly.txt
chmod 444 readonly.txt
run_exe -u readonly.txt readonly.txt
check "in place on a read-only file: status 3" test "$status" = 3
check "in place on a read-only file: left as it is" cmp -s mixed.txt readonly.txt

run_exe "$(printf 'bad\033[31mname')" out.txt
check "control bytes in names are escaped" \
    cmp -s <(printf 'Cannot open input file bad\\033[31mname\r\n\r\n'; crlf native-usage.txt) err.txt

for flag in "" -w -u; do
    "$native_report" $flag --json mixed.txt > native-report.json || true
    status=0
    "$wine" "$report_exe" $flag --json mixed.txt > windows-report.json 2> err.txt || status=$?
    check "report '${flag:-default}': status 1 (not clean)" test "$status" = 1
    crlf native-report.json > native-report-crlf.json
    check "report '${flag:-default}': same JSON as the native report" \
        cmp -s native-report-crlf.json windows-report.json
    # Shows what differed, so that a failure seen once can be understood.
    cmp -s native-report-crlf.json windows-report.json ||
        { diff native-report-crlf.json windows-report.json | head -c 2000; cat err.txt; } >&2 || true
done

make_tree() {  # make_tree DIR: mixed files in folders, a binary file, version control
    mkdir -p "$1/sub/deeper" "$1/.git"
    cp mixed.txt "$1/a.txt"
    cp mixed.txt "$1/sub/deeper/b.txt"
    printf 'plain\r\n' > "$1/sub/clean.txt"
    printf 'x\000\351y' > "$1/sub/image.bin"
    cp mixed.txt "$1/.git/config"
}
mkdir outside && cp mixed.txt outside/o.txt
make_tree tree-native && make_tree tree-windows && make_tree tree-dry
ln -s "$PWD/outside" tree-windows/linked
"$native_tree" -u -q tree-native >/dev/null
status=0
"$wine" "$tree_exe" -u tree-windows > tree.out 2> err.txt || status=$?
check "tree: status 0" test "$status" = 0
check "tree: files repaired as the native program repairs them" \
    diff -r -x linked tree-native tree-windows
check "tree: a link to a folder outside is not entered" cmp -s mixed.txt outside/o.txt
check "tree: the link reported as skipped" grep -q 'linked: skipped (symbolic link)' tree.out
check "tree: summary" grep -q '^5 files: 2 repaired, 1 clean, 0 unchanged, 1 binary, 1 skipped, 0 failed' tree.out
"$wine" "$tree_exe" -u --dry-run tree-dry > tree.out 2> err.txt || true
check "tree --dry-run: nothing changed" cmp -s mixed.txt tree-dry/a.txt

echo
if [ "$failures" -ne 0 ]; then echo "check-windows: $failures check(s) failed"; exit 1; fi
echo "check-windows: all checks passed"
