#!/usr/bin/env bash
# Makes the Debian package of a build, unpacks it and runs the programs from
# it on the shipped sample.
#   deb_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build="$1"
source="$2"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" >/dev/null)
deb=$(ls "$work"/textmend_*.deb)
info=$(dpkg-deb --info "$deb")
grep -q "Package: textmend" <<< "$info" || { echo "no package name"; exit 1; }
grep -q "Section: utils" <<< "$info" || { echo "no section"; exit 1; }
grep -q "Depends: libc6" <<< "$info" || { echo "no dependencies worked out"; exit 1; }
dpkg-deb -x "$deb" "$work/root"
for program in textmend textmend-report; do
    [ -x "$work/root/usr/bin/$program" ] || { echo "no usr/bin/$program in the package"; exit 1; }
    ls "$work"/root/usr/share/man/man1/$program.1* >/dev/null || { echo "no man page $program.1 in the package"; exit 1; }
done
"$work/root/usr/bin/textmend" -u "$source/examples/mixed.txt" "$work/out"
iconv -f UTF-8 -t UTF-8 "$work/out" >/dev/null || { echo "output is not UTF-8"; exit 1; }
"$work/root/usr/bin/textmend-report" -u "$work/out" >/dev/null || { echo "the report finds the output not clean"; exit 1; }
echo "package $(basename "$deb"): ok"
