// What the AVX-512 kernels share: their target (AVX2 and the AVX-512
// extensions they use: byte and word operations, VBMI byte permutes, VBMI2
// compress; and BMI2), their block of 64 bytes, and constants kept in
// registers. Only for the kernel files that check TEXTMEND_HAVE_AVX2_PATH;
// the functions are only called when the processor has all of it.
#pragma once

#include "kernels/simd_support.hpp"

#ifdef TEXTMEND_HAVE_AVX2_PATH

#include <immintrin.h>

#include <array>
#include <cstddef>
#include <cstdint>

#include "encoding/lead_ranges.hpp"

// GCC 12 warns that the "undefined" source some AVX-512 intrinsics pass to
// their builtins may be used uninitialized (fixed in GCC 13): it never is.
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ < 13
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#define TEXTMEND_AVX512_TARGET "avx2,bmi2,popcnt,avx512f,avx512vl,avx512bw,avx512vbmi,avx512vbmi2"
#define TEXTMEND_AVX512 __attribute__((target(TEXTMEND_AVX512_TARGET), always_inline))
#define TEXTMEND_AVX512_ENTRY __attribute__((target(TEXTMEND_AVX512_TARGET)))

namespace textmend::avx512 {

// Bytes in one vector: the block the AVX-512 kernels work on, with the
// lanes' classes in 64-bit masks.
inline constexpr std::ptrdiff_t WIDE_BLOCK = 64;

// The kernels' loops are bound by the instructions they issue. GCC builds
// most constants again in every pass (a move and a broadcast each); a
// kernel builds its constants once, through opaque, whose empty asm hides
// their values from the compiler, so that it keeps them in registers.
TEXTMEND_AVX512 inline __m512i opaque(__m512i v) {
    __asm__("" : "+v"(v));
    return v;
}

TEXTMEND_AVX512 inline __m512i constant_bytes(int byte) {
    return opaque(_mm512_set1_epi8(static_cast<char>(byte)));
}

// A range of bytes as its first byte and span, for one subtraction and one
// unsigned compare.
struct WideRange {
    __m512i first, span;
};

TEXTMEND_AVX512 inline WideRange wide_range(ByteRange range) {
    return {constant_bytes(range.first), constant_bytes(range.last - range.first)};
}

// Lanes of v whose byte lies in range.
TEXTMEND_AVX512 inline std::uint64_t wide_in_range(__m512i v, const WideRange& range) {
    return _mm512_cmple_epu8_mask(_mm512_sub_epi8(v, range.first), range.span);
}

// A 16-byte table in each 16-byte lane, for byte shuffles. (The masked form
// of the broadcast: GCC 12 flags the plain one's undefined source as used
// uninitialized, which the pragma above does not cover.)
TEXTMEND_AVX512 inline __m512i constant_table(const std::array<std::uint8_t, 16>& table) {
    return opaque(_mm512_maskz_broadcast_i32x4(
        0xFFFF, _mm_loadu_si128(reinterpret_cast<const __m128i*>(table.data()))));
}

// A 64-byte table, for byte permutes by the low six bits.
TEXTMEND_AVX512 inline __m512i constant_table(const std::array<std::uint8_t, 64>& table) {
    return opaque(_mm512_loadu_si512(table.data()));
}

// Lanes of v whose byte has a bit in common with the nibble tables' entries
// for its high and low nibble (given in every lane, with 0x0F bytes in
// nibble).
TEXTMEND_AVX512 inline std::uint64_t nibble_lanes(__m512i v, __m512i high, __m512i low,
                                                  __m512i nibble) {
    return _mm512_test_epi8_mask(
        _mm512_shuffle_epi8(high, _mm512_and_si512(_mm512_srli_epi16(v, 4), nibble)),
        _mm512_shuffle_epi8(low, _mm512_and_si512(v, nibble)));
}

// Of the lanes in mask, those whose byte and the one after it (next) form
// one of a target set's lead pairs, by LeadPairBits' 64-entry tables (lead,
// second): exact for lead and second byte.
TEXTMEND_AVX512 inline std::uint64_t lead_pair_lanes(std::uint64_t mask, __m512i v, __m512i next,
                                                     __m512i lead, __m512i second) {
    return _mm512_mask_test_epi8_mask(mask, _mm512_permutexvar_epi8(v, lead),
                                      _mm512_permutexvar_epi8(next, second));
}

// The last bytes of an input are read with masked loads, which touch no
// byte outside the mask: the lanes of a block at p whose bytes lie before
// end (every lane when a whole block does).
TEXTMEND_AVX512 inline std::uint64_t lanes_before(const std::uint8_t* p, const std::uint8_t* end) {
    const std::ptrdiff_t n = end - p;
    return n >= WIDE_BLOCK ? ~std::uint64_t{0}
           : n <= 0        ? 0
                           : _bzhi_u64(~std::uint64_t{0}, static_cast<unsigned>(n));
}

// The block at p with the bytes from end on read as 0: below 0x80, so a
// sequence that end cuts short is judged as at the end of the input.
TEXTMEND_AVX512 inline __m512i load_before(const std::uint8_t* p, const std::uint8_t* end) {
    return _mm512_maskz_loadu_epi8(lanes_before(p, end), p);
}

// Writes the first n bytes of v (n <= 64) at out and nothing after them.
TEXTMEND_AVX512 inline void store_first(std::uint8_t* out, __m512i v, std::uint64_t n) {
    _mm512_mask_storeu_epi8(out, _bzhi_u64(~std::uint64_t{0}, static_cast<unsigned>(n)), v);
}

// Whether the 256 bytes at p are ASCII: the searches for an unchanged
// stretch pass over such a run at once. The test is taken nearly always or
// nearly never, so it is well predicted where a test of every block is not
// (in Latin-1 text, say).
TEXTMEND_AVX512 inline bool all_ascii_256(const std::uint8_t* p) {
    // 0xFE: a | b | c.
    const __m512i any = _mm512_ternarylogic_epi32(
        _mm512_loadu_si512(p), _mm512_loadu_si512(p + 64),
        _mm512_or_si512(_mm512_loadu_si512(p + 128), _mm512_loadu_si512(p + 192)), 0xFE);
    return _mm512_movepi8_mask(any) == 0;
}

}  // namespace textmend::avx512

#endif
