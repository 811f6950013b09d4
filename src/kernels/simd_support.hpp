// Whether this compiler and target can build the AVX2 code paths. They are
// compiled per function (target attribute) and chosen at run time, so the
// program still runs on any x86-64 processor, and elsewhere only the
// portable code is built. Not on Windows: there GCC does not align the stack
// for 32-byte vectors, and spilled AVX registers would fault.
#pragma once

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(_WIN32)
#define TEXTMEND_HAVE_AVX2_PATH 1
#endif

#include <cstdint>

namespace textmend {

// How far ahead of the block in hand the inspection and conversion loops
// ask for the input: a page. Their blocks take more instructions than a
// copy's, so fewer loads are in flight, and the processor's own prefetcher
// does not cross into the next page: counting a buffer larger than the
// cache ran at a quarter of its speed in the cache (Chinese text, 64 MiB:
// 1.5 against 10 GB/s), and converting 16 MiB in memory gains 8-26 %.
inline constexpr std::uintptr_t PREFETCH_DISTANCE = 4096;

// A hint only: never faults, so it may name bytes past the input's end
// (the address is formed as an integer, not by pointer arithmetic). Always
// inlined: GCC 12 drops the hint when an ordinary inline function holding it
// is inlined into an always-inlined function of another target.
__attribute__((always_inline)) inline void prefetch_ahead(const std::uint8_t* p) {
    __builtin_prefetch(
        reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(p) + PREFETCH_DISTANCE));
}

// The same for a loop that takes 256 bytes at a time.
__attribute__((always_inline)) inline void prefetch_group_ahead(const std::uint8_t* p) {
    for (int line = 0; line < 256; line += 64)
        prefetch_ahead(p + line);
}

}  // namespace textmend
