// The target of the AVX-512 kernels: AVX2 and the AVX-512 extensions they
// use (byte and word operations, VBMI byte permutes, VBMI2 compress), and
// BMI2. Only for the kernel files that check TEXTMEND_HAVE_AVX2_PATH; the
// functions are only called when the processor has all of it.
#pragma once

// GCC 12 warns that the "undefined" source some AVX-512 intrinsics pass to
// their builtins may be used uninitialized (fixed in GCC 13): it never is.
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ < 13
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#define TEXTMEND_AVX512_TARGET "avx2,bmi2,popcnt,avx512f,avx512vl,avx512bw,avx512vbmi,avx512vbmi2"
#define TEXTMEND_AVX512 __attribute__((target(TEXTMEND_AVX512_TARGET), always_inline))
#define TEXTMEND_AVX512_ENTRY __attribute__((target(TEXTMEND_AVX512_TARGET)))
