// Small AVX2 helpers shared by the vector code. Only for translation units
// that check TEXTMEND_HAVE_AVX2_PATH: every function here is compiled for
// AVX2 and inlined into functions that are only called when the processor
// has it.
#pragma once

#include "kernels/simd_support.hpp"

#ifdef TEXTMEND_HAVE_AVX2_PATH

#include <immintrin.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "convert/byte_tables.hpp"

namespace textmend::avx2 {

#define TEXTMEND_AVX2 __attribute__((target("avx2,popcnt"), always_inline))
#define TEXTMEND_AVX2_ENTRY __attribute__((target("avx2,popcnt")))

// Bytes in one vector: the block the AVX2 code works on.
inline constexpr std::ptrdiff_t BLOCK = 32;

TEXTMEND_AVX2 inline __m256i load(const std::uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

TEXTMEND_AVX2 inline void store(std::uint8_t* p, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

TEXTMEND_AVX2 inline std::uint32_t mask_of(__m256i v) {
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(v));
}

TEXTMEND_AVX2 inline __m256i splat(int byte) {
    return _mm256_set1_epi8(static_cast<char>(byte));
}

// 0xFF in the lanes whose byte lies in [low, high].
TEXTMEND_AVX2 inline __m256i in_range(__m256i v, int low, int high) {
    const __m256i offset = _mm256_sub_epi8(v, splat(low));
    return _mm256_cmpeq_epi8(_mm256_min_epu8(offset, splat(high - low)), offset);
}

TEXTMEND_AVX2 inline __m256i is_continuation(__m256i v) {
    return _mm256_cmpeq_epi8(_mm256_and_si256(v, splat(0xC0)), splat(0x80));
}

// Lane i holds lane i - K of the 64 bytes previous:current.
template <int K>
TEXTMEND_AVX2 inline __m256i shifted_in(__m256i current, __m256i previous) {
    return _mm256_alignr_epi8(current, _mm256_permute2x128_si256(previous, current, 0x21), 16 - K);
}

// Membership of the lanes in a set of candidate leads, by the nibble tables.
struct CandidateClassifier {
    __m256i high_table;
    __m256i low_table;
};

// A classifier from two nibble tables: byte c's classes are
// high[c >> 4] & low[c & 15].
TEXTMEND_AVX2 inline CandidateClassifier nibble_classifier(
    const std::array<std::uint8_t, 16>& high, const std::array<std::uint8_t, 16>& low) {
    __m128i high128, low128;
    std::memcpy(&high128, high.data(), 16);
    std::memcpy(&low128, low.data(), 16);
    return {_mm256_broadcastsi128_si256(high128), _mm256_broadcastsi128_si256(low128)};
}

TEXTMEND_AVX2 inline CandidateClassifier classifier_for(const CandidateLeads& leads) {
    return nibble_classifier(leads.high, leads.low);
}

// The classes of each lane of v: not zero for a member.
TEXTMEND_AVX2 inline __m256i nibble_classes(const CandidateClassifier& c, __m256i v) {
    const __m256i nibble = splat(0x0F);
    return _mm256_and_si256(
        _mm256_shuffle_epi8(c.high_table, _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble)),
        _mm256_shuffle_epi8(c.low_table, _mm256_and_si256(v, nibble)));
}

// Mask of the lanes of v that hold a candidate lead.
TEXTMEND_AVX2 inline std::uint32_t candidate_lanes(const CandidateClassifier& c, __m256i v) {
    return ~mask_of(_mm256_cmpeq_epi8(nibble_classes(c, v), _mm256_setzero_si256()));
}

// After blocks that stopped at p: a sequence whose lead lies in the last
// bytes before p (lengths by the table, strict or permissive) may reach past
// it. Returns how many of its bytes lie at p onward (0 when none does). Only
// for a p that whole blocks reached, so that the bytes before it are there.
inline std::ptrdiff_t sequence_reaching_past(const std::uint8_t* p,
                                             const std::array<std::int8_t, 256>& lengths) {
    for (std::ptrdiff_t back = 1; back <= 5; ++back) {
        const std::uint8_t* lead = p - back;
        const std::int32_t n = lengths[*lead];
        if (n > back && utf8_continues(lead, n)) return n - back;
    }
    return 0;
}

}  // namespace textmend::avx2

#endif
