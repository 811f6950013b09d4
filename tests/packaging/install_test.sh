#!/usr/bin/env bash
# Installs a build into a temporary prefix, checks what is there, and builds
# and runs a consumer project against it with find_package.
#   install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build="$1"
source="$2"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"

cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/textmend bin/textmend-report include/textmend/textmend.hpp lib/libtextmend.a \
         lib/cmake/textmend/textmendConfig.cmake lib/cmake/textmend/textmendConfigVersion.cmake \
         lib/cmake/textmend/textmendTargets.cmake; do
    [ -e "$prefix/$f" ] || { echo "missing after install: $f"; exit 1; }
done
for page in textmend textmend-report; do
    ls "$prefix"/share/man/man1/$page.1* >/dev/null || { echo "missing after install: the man page $page.1"; exit 1; }
done

# The consumer is the README's library example, word for word.
awk '/^```cpp$/ {grab = 1; text = ""; next} grab && /^```$/ {grab = 0; if (text ~ /^#include <textmend/) {printf "%s", text; exit}} grab {text = text $0 "\n"}' \
    "$source/README.md" > "$work/readme-example.cpp"
cmp -s "$work/readme-example.cpp" "$source/tests/consumer/main.cpp" ||
    { echo "tests/consumer/main.cpp differs from the README's library example"; exit 1; }

cmake -S "$source/tests/consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/consumer" >/dev/null
printf 'caf\xe9 caf\xc3\xa9\n' | "$work/consumer/consumer" > "$work/out" 2> "$work/err"
[ "$(cat "$work/out")" = "café café" ] || { echo "consumer wrote: $(od -c "$work/out")"; exit 1; }
[ "$(cat "$work/err")" = "repaired" ] || { echo "consumer said: $(cat "$work/err")"; exit 1; }
printf 'plain\n' | "$work/consumer/consumer" 2> "$work/err" >/dev/null
[ "$(cat "$work/err")" = "already clean" ] || { echo "consumer said: $(cat "$work/err")"; exit 1; }
echo "install and consumer: ok"
