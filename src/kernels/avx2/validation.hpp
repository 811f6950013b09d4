// Which lanes of a 32-byte block break valid UTF-8, by three nibble lookups
// per block (the method of Keiser and Lemire, "Validating UTF-8 in less than
// one instruction per byte", 2021). Each pair of a byte and the one before
// it is classed by the high and low nibble of the first and the high nibble
// of the second; a class common to all three is an error of that pair. The
// second and third bytes of longer sequences are checked by the bytes two
// and three lanes back. Only for translation units that check
// TEXTMEND_HAVE_AVX2_PATH.
#pragma once

#include "kernels/avx2/ops.hpp"

#ifdef TEXTMEND_HAVE_AVX2_PATH

#include <array>
#include <cstdint>
#include <cstring>

namespace textmend::avx2 {

namespace utf8_errors_detail {

// Error classes of a pair of bytes (first, second).
enum : std::uint8_t {
    TOO_SHORT = 1 << 0,       // a lead, then no continuation byte
    TOO_LONG = 1 << 1,        // ASCII, then a continuation byte
    OVERLONG_3 = 1 << 2,      // E0, then 80..9F
    TOO_LARGE = 1 << 3,       // F4, then 90..BF; F5..FF, then 90..BF
    SURROGATE = 1 << 4,       // ED, then A0..BF
    OVERLONG_2 = 1 << 5,      // C0 or C1, then a continuation byte
    OVERLONG_4 = 1 << 6,      // F0, then 80..8F
    TOO_LARGE_1000 = 1 << 6,  // F5..FF, then 80..8F (shares its bit with OVERLONG_4)
    TWO_CONTS = 1 << 7,       // two continuation bytes: right only inside a longer sequence
    CARRY = TOO_SHORT | TOO_LONG | TWO_CONTS,
};

// By the high nibble of the first byte.
inline constexpr std::array<std::uint8_t, 16> FIRST_HIGH = {
    TOO_LONG,
    TOO_LONG,
    TOO_LONG,
    TOO_LONG,
    TOO_LONG,
    TOO_LONG,
    TOO_LONG,
    TOO_LONG,
    TWO_CONTS,
    TWO_CONTS,
    TWO_CONTS,
    TWO_CONTS,
    TOO_SHORT | OVERLONG_2,
    TOO_SHORT,
    TOO_SHORT | OVERLONG_3 | SURROGATE,
    TOO_SHORT | TOO_LARGE | TOO_LARGE_1000 | OVERLONG_4,
};

// By the low nibble of the first byte.
inline constexpr std::array<std::uint8_t, 16> FIRST_LOW = {
    CARRY | OVERLONG_3 | OVERLONG_2 | OVERLONG_4,
    CARRY | OVERLONG_2,
    CARRY,
    CARRY,
    CARRY | TOO_LARGE,
    CARRY | TOO_LARGE | TOO_LARGE_1000,
    CARRY | TOO_LARGE | TOO_LARGE_1000,
    CARRY | TOO_LARGE | TOO_LARGE_1000,
    CARRY | TOO_LARGE | TOO_LARGE_1000,
    CARRY | TOO_LARGE | TOO_LARGE_1000,
    CARRY | TOO_LARGE | TOO_LARGE_1000,
    CARRY | TOO_LARGE | TOO_LARGE_1000,
    CARRY | TOO_LARGE | TOO_LARGE_1000,
    CARRY | TOO_LARGE | TOO_LARGE_1000 | SURROGATE,
    CARRY | TOO_LARGE | TOO_LARGE_1000,
    CARRY | TOO_LARGE | TOO_LARGE_1000,
};

// By the high nibble of the second byte.
inline constexpr std::array<std::uint8_t, 16> SECOND_HIGH = {
    TOO_SHORT,
    TOO_SHORT,
    TOO_SHORT,
    TOO_SHORT,
    TOO_SHORT,
    TOO_SHORT,
    TOO_SHORT,
    TOO_SHORT,
    TOO_LONG | OVERLONG_2 | TWO_CONTS | OVERLONG_3 | TOO_LARGE_1000 | OVERLONG_4,
    TOO_LONG | OVERLONG_2 | TWO_CONTS | OVERLONG_3 | TOO_LARGE,
    TOO_LONG | OVERLONG_2 | TWO_CONTS | SURROGATE | TOO_LARGE,
    TOO_LONG | OVERLONG_2 | TWO_CONTS | SURROGATE | TOO_LARGE,
    TOO_SHORT,
    TOO_SHORT,
    TOO_SHORT,
    TOO_SHORT,
};

TEXTMEND_AVX2 inline __m256i broadcast(const std::array<std::uint8_t, 16>& table) {
    __m128i t;
    std::memcpy(&t, table.data(), 16);
    return _mm256_broadcastsi128_si256(t);
}

}  // namespace utf8_errors_detail

struct Utf8Checker {
    __m256i first_high, first_low, second_high;

    TEXTMEND_AVX2 Utf8Checker()
        : first_high(utf8_errors_detail::broadcast(utf8_errors_detail::FIRST_HIGH)),
          first_low(utf8_errors_detail::broadcast(utf8_errors_detail::FIRST_LOW)),
          second_high(utf8_errors_detail::broadcast(utf8_errors_detail::SECOND_HIGH)) {}

    // Nonzero in the lanes of v that break valid UTF-8, given the 32 bytes
    // before (zero where nothing comes before). A lead in the last lanes
    // is checked with the block after it, whose first three lanes show
    // what it lacks.
    TEXTMEND_AVX2 __m256i errors(__m256i v, __m256i before) const {
        const __m256i nibble = splat(0x0F);
        const __m256i joined = _mm256_permute2x128_si256(before, v, 0x21);
        const __m256i prev1 = _mm256_alignr_epi8(v, joined, 15);
        const __m256i prev2 = _mm256_alignr_epi8(v, joined, 14);
        const __m256i prev3 = _mm256_alignr_epi8(v, joined, 13);
        const __m256i pair_classes = _mm256_and_si256(
            _mm256_and_si256(_mm256_shuffle_epi8(
                                 first_high, _mm256_and_si256(_mm256_srli_epi16(prev1, 4), nibble)),
                             _mm256_shuffle_epi8(first_low, _mm256_and_si256(prev1, nibble))),
            _mm256_shuffle_epi8(second_high, _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble)));
        // 0x80 where a lead two or three lanes back calls for a continuation.
        const __m256i must_continue =
            _mm256_and_si256(_mm256_or_si256(_mm256_subs_epu8(prev2, splat(0xE0 - 0x80)),
                                             _mm256_subs_epu8(prev3, splat(0xF0 - 0x80))),
                             splat(0x80));
        return _mm256_xor_si256(must_continue, pair_classes);
    }
};

}  // namespace textmend::avx2

#endif
