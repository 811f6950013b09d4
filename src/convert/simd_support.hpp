// Whether this compiler and target can build the AVX2 code paths. They are
// compiled per function (target attribute) and chosen at run time, so the
// program still runs on any x86-64 processor, and elsewhere only the
// portable code is built.
#pragma once

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TEXTMEND_HAVE_AVX2_PATH 1
#endif
