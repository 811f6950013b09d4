// Whether this compiler and target can build the AVX2 code paths. They are
// compiled per function (target attribute) and chosen at run time, so the
// program still runs on any x86-64 processor, and elsewhere only the
// portable code is built. Not on Windows: there GCC does not align the stack
// for 32-byte vectors, and spilled AVX registers would fault.
#pragma once

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(_WIN32)
#define TEXTMEND_HAVE_AVX2_PATH 1
#endif
