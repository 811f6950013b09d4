#!/usr/bin/env bash
# Checks an installed tree the way a user of the library would use it:
#   consumer_checks.sh PREFIX SOURCE_DIR WORK_DIR [LIBDIR]
# - the README's library example (tests/consumer/main.cpp) built with CMake as
#   C++17 (the package must not ask for more) and run;
# - the same built with pkg-config and -std=c++17 and run;
# - a shared library of the consumer's that links the static library, used by
#   a program;
# - ignoring a [[nodiscard]] result fails to compile under -Werror;
# - a C99 program on the C header (tests/consumer/c/main.c), built with CMake
#   and with pkg-config (--static too, which must name the C++ runtime) under
#   -std=c99 -pedantic -Werror, and run under valgrind when it is installed.
set -euo pipefail
prefix="$1"
source="$2"
work="$3"
libdir="${4:-lib}"
fail() { echo "consumer_checks: $*"; exit 1; }
# Libraries in the prefix are found at run time without installing them.
export LD_LIBRARY_PATH="$prefix/$libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"

check_repairs() {  # check_repairs PROGRAM
    printf 'caf\xe9 caf\xc3\xa9\n' | "$1" > "$work/out" 2> "$work/err"
    [ "$(cat "$work/out")" = "café café" ] || fail "$1 wrote: $(od -c "$work/out")"
    [ "$(cat "$work/err")" = "repaired" ] || fail "$1 said: $(cat "$work/err")"
    printf 'plain\n' | "$1" 2> "$work/err" >/dev/null
    [ "$(cat "$work/err")" = "already clean" ] || fail "$1 said: $(cat "$work/err")"
}

# CMake, C++17.
cmake -S "$source/tests/consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/consumer" --verbose > "$work/build.log" 2>&1 || { cat "$work/build.log"; fail "the CMake consumer does not build"; }
grep -q -- "-std=c++17\|-std=gnu++17" "$work/build.log" || fail "the consumer was not compiled as C++17"
! grep -q -- "-std=c++2\|-std=gnu++2" "$work/build.log" || fail "the package asks consumers for more than C++17"
check_repairs "$work/consumer/consumer"
[ "$("$work/consumer/plugin_user" "$(printf 'caf\xe9')")" = "café" ] || fail "the shared plugin with the static library inside"

# pkg-config, C++17.
export PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig"
flags=$(pkg-config --cflags --libs textmend) || fail "pkg-config does not know textmend"
g++ -std=c++17 -Wall -Werror "$source/tests/consumer/main.cpp" $flags -o "$work/pc_consumer" ||
    fail "the pkg-config consumer does not build"
check_repairs "$work/pc_consumer"

# [[nodiscard]]: the control compiles, the file that ignores the result does not.
cflags=$(pkg-config --cflags textmend)
g++ -std=c++17 -Wall -Werror -DUSE_RESULT -c "$source/tests/consumer/ignored_result.cpp" $cflags -o "$work/used.o" ||
    fail "the control that uses the result does not compile"
if g++ -std=c++17 -Wall -Werror -c "$source/tests/consumer/ignored_result.cpp" $cflags -o "$work/ignored.o" 2> "$work/nodiscard.log"; then
    fail "ignoring a [[nodiscard]] result compiled"
fi
grep -q "nodiscard\|ignoring return value" "$work/nodiscard.log" || { cat "$work/nodiscard.log"; fail "failed for another reason"; }
# C99, through the C header.
check_c_repairs() {  # check_c_repairs PROGRAM
    local run=("$1")
    if command -v valgrind >/dev/null; then
        run=(valgrind -q --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite "$1")
    fi
    printf 'caf\xe9 caf\xc3\xa9\n' | "${run[@]}" > "$work/out" 2> "$work/err" || { cat "$work/err"; fail "$1 failed"; }
    [ "$(cat "$work/out")" = "café café" ] || fail "$1 wrote: $(od -c "$work/out")"
    grep -q "repaired$" "$work/err" || fail "$1 said: $(cat "$work/err")"
}
cmake -S "$source/tests/consumer/c" -B "$work/c_consumer" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/c_consumer" > "$work/c_build.log" 2>&1 || { cat "$work/c_build.log"; fail "the CMake C consumer does not build"; }
check_c_repairs "$work/c_consumer/c_consumer"
c_flags=(-std=c99 -Wall -Wextra -pedantic -Werror)
if ls "$prefix/$libdir"/libtextmend.so >/dev/null 2>&1; then
    gcc "${c_flags[@]}" "$source/tests/consumer/c/main.c" $(pkg-config --cflags --libs textmend) -o "$work/pc_c_consumer" ||
        fail "the pkg-config C consumer does not build"
    check_c_repairs "$work/pc_c_consumer"
fi
gcc "${c_flags[@]}" "$source/tests/consumer/c/main.c" $(pkg-config --cflags --libs --static textmend) -o "$work/pc_c_static" ||
    fail "the pkg-config --static C consumer does not build"
check_c_repairs "$work/pc_c_static"
echo "consumer checks: ok"
