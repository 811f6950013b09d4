#!/usr/bin/env bash
# Installs a (static) build into a temporary prefix, checks what is there, and
# builds and runs consumers against it (consumer_checks.sh).
#   install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build="$1"
source="$2"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"

cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/textmend bin/textmend-report include/textmend/textmend.hpp include/textmend/textmend.h lib/libtextmend.a \
         lib/cmake/textmend/textmendConfig.cmake lib/cmake/textmend/textmendConfigVersion.cmake \
         lib/cmake/textmend/textmendTargets.cmake lib/pkgconfig/textmend.pc \
         share/doc/textmend/copyright share/doc/textmend-dev/copyright; do
    [ -e "$prefix/$f" ] || { echo "missing after install: $f"; exit 1; }
done
for page in textmend textmend-report; do
    ls "$prefix"/share/man/man1/$page.1* >/dev/null || { echo "missing after install: the man page $page.1"; exit 1; }
done
! ls "$prefix"/lib/libtextmend.so* >/dev/null 2>&1 || { echo "a static build installed a shared library"; exit 1; }

# The consumer is the README's library example, word for word.
awk '/^```cpp$/ {grab = 1; text = ""; next} grab && /^```$/ {grab = 0; if (text ~ /^#include <textmend/) {printf "%s", text; exit}} grab {text = text $0 "\n"}' \
    "$source/README.md" > "$work/readme-example.cpp"
cmp -s "$work/readme-example.cpp" "$source/tests/consumer/main.cpp" ||
    { echo "tests/consumer/main.cpp differs from the README's library example"; exit 1; }

bash "$source/tests/packaging/consumer_checks.sh" "$prefix" "$source" "$work"
echo "install and consumers: ok"
