#!/usr/bin/env bash
# Builds the package preset (shared and static library, hardened, for /usr)
# into a temporary folder and checks:
# - the shared library's SONAME, and that it exports the public API only
#   (the C interface under unmangled names), and the C interface through
#   Python's ctypes;
# - consumers against an installed tree of it (consumer_checks.sh);
# - the Debian packages: textmend, libtextmend1 and textmend-dev with what
#   belongs in each, lintian without an error or a warning (when lintian is
#   installed), and the programs from the package on the shipped sample.
#   shared_test.sh SOURCE_DIR
set -euo pipefail
source="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "shared_test: $*"; exit 1; }

cmake --preset package -S "$source" -B "$work/build" >/dev/null
cmake --build "$work/build" -j 2 >/dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$work/build/CMakeCache.txt")
major=${version%%.*}
library="$work/build/libtextmend.so.$version"

readelf -d "$library" | grep "SONAME.*\[libtextmend.so.$major\]" >/dev/null || fail "SONAME is not libtextmend.so.$major"
public='^textmend::(version|kernel_choice|convert|converted_size|safe_cut|convert_append|stream_converter|stream_feed|stream_finish|inspect|StreamInspector::[a-z_A-Z]+|ReportInspector::[a-z_A-Z]+)\('
c_names="textmend_version textmend_status_text textmend_max_converted_size textmend_converted_size textmend_safe_cut
textmend_convert textmend_convert_with textmend_stream_new textmend_stream_feed textmend_stream_finish
textmend_stream_counts textmend_stream_free textmend_inspect"
exported=$(nm -DC --defined-only "$library" | cut -d' ' -f3-)
[ -n "$exported" ] || fail "nothing exported"
if grep -Ev "$public|^($(echo $c_names | tr ' ' '|'))$" <<< "$exported"; then fail "exported beyond the public API (above)"; fi
# The C interface under its own, unmangled names.
for name in $c_names; do
    nm -D --defined-only "$library" | grep -q " T $name$" || fail "$name is not exported"
done

# An installed tree: consumers find the shared library.
prefix="$work/prefix"
cmake --install "$work/build" --prefix "$prefix" >/dev/null
libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$work/build/CMakeCache.txt")
[ -e "$prefix/$libdir/libtextmend.so.$major" ] && [ -e "$prefix/$libdir/libtextmend.a" ] ||
    fail "the shared build did not install both libraries"
bash "$source/tests/packaging/consumer_checks.sh" "$prefix" "$source" "$work/consumers" "$libdir"
ldd "$work/consumers/consumer/consumer" | grep "libtextmend.so.$major" >/dev/null ||
    fail "the CMake consumer is not linked with the shared library"
python3 "$source/tests/packaging/c_interface_ctypes.py" "$prefix/$libdir/libtextmend.so.$major" ||
    fail "the C interface through ctypes"

# The packages.
(cd "$work" && cpack -G DEB --config "$work/build/CPackConfig.cmake" >/dev/null)
contents() { dpkg-deb -c "$work/$1"_*.deb | awk '{print $6}' | sed 's|^\./|/|'; }
expect() {  # expect PACKAGE PATH_PATTERN...
    local package="$1"; shift
    local list; list=$(contents "$package")
    for pattern in "$@"; do
        grep -qE "^$pattern$" <<< "$list" || fail "$package lacks $pattern"
    done
}
expect textmend /usr/bin/textmend /usr/bin/textmend-report /usr/share/man/man1/textmend.1.gz \
    /usr/share/man/man1/textmend-report.1.gz /usr/share/doc/textmend/copyright \
    /usr/share/doc/textmend/changelog.Debian.gz
expect "libtextmend$major" "/usr/lib/.*/libtextmend.so.$major" "/usr/lib/.*/libtextmend.so.$version" \
    "/usr/share/doc/libtextmend$major/copyright" "/usr/share/doc/libtextmend$major/changelog.Debian.gz"
expect textmend-dev /usr/include/textmend/textmend.hpp /usr/include/textmend/textmend.h "/usr/lib/.*/libtextmend.a" \
    "/usr/lib/.*/libtextmend.so" "/usr/lib/.*/pkgconfig/textmend.pc" \
    "/usr/lib/.*/cmake/textmend/textmendConfig.cmake" /usr/share/doc/textmend-dev/copyright
! contents textmend | grep "libtextmend" >/dev/null || fail "the programs' package holds the library"
dpkg-deb -f "$work"/textmend-dev_*.deb Depends | grep "libtextmend$major (= $version" >/dev/null ||
    fail "textmend-dev does not depend on libtextmend$major of its version"

if command -v lintian >/dev/null; then
    for deb in "$work"/*.deb; do
        complaints=$(lintian "$deb" | grep -E "^(E|W):" || true)
        [ -z "$complaints" ] || fail "lintian on $(basename "$deb"): $complaints"
    done
    echo "lintian: no errors, no warnings"
else
    echo "lintian is not installed: the packages were not linted"
fi

dpkg-deb -x "$work"/textmend_*.deb "$work/root"
"$work/root/usr/bin/textmend" -u "$source/examples/mixed.txt" "$work/out"
iconv -f UTF-8 -t UTF-8 "$work/out" >/dev/null || fail "the output is not UTF-8"
"$work/root/usr/bin/textmend-report" -u "$work/out" >/dev/null || fail "the report finds the output not clean"
echo "shared build and packages: ok"
