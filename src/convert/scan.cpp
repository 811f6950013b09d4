#include "convert/scan.hpp"

#include <bit>
#include <cstring>

#include "convert/simd_support.hpp"

#ifdef TEXTMEND_HAVE_AVX2_PATH
#include <immintrin.h>
#endif

namespace textmend {

namespace {

constexpr std::uint64_t HIGH_BITS = 0x8080808080808080ULL;

std::uint64_t load64(const std::uint8_t* p) {
    std::uint64_t w;
    std::memcpy(&w, p, sizeof w);
    return w;
}

// Index of the lowest byte whose bit 7 is set in a mask of such bits.
unsigned first_marked_byte(std::uint64_t marks) {
    if constexpr (std::endian::native == std::endian::little) {
        return static_cast<unsigned>(__builtin_ctzll(marks)) / 8;
    } else {
        return static_cast<unsigned>(__builtin_clzll(marks)) / 8;
    }
}

#ifdef TEXTMEND_HAVE_AVX2_PATH
bool has_avx2() {
    return __builtin_cpu_supports("avx2");
}
#else
bool has_avx2() {
    return false;
}
#endif

#ifdef TEXTMEND_HAVE_AVX2_PATH
__attribute__((target("avx2"))) const std::uint8_t* find_non_ascii_avx2(const std::uint8_t* p,
                                                                        const std::uint8_t* end) {
    while (end - p >= 64) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
        const auto mask_a = static_cast<std::uint32_t>(_mm256_movemask_epi8(a));
        const auto mask_b = static_cast<std::uint32_t>(_mm256_movemask_epi8(b));
        if ((mask_a | mask_b) != 0) {
            return mask_a != 0 ? p + __builtin_ctz(mask_a) : p + 32 + __builtin_ctz(mask_b);
        }
        p += 64;
    }
    return find_non_ascii_portable(p, end);
}

__attribute__((target("avx2"))) const std::uint8_t* find_candidate_lead_avx2(
    const std::uint8_t* p, const std::uint8_t* end, const CandidateLeads& leads) {
    __m128i high128, low128;
    std::memcpy(&high128, leads.high.data(), 16);
    std::memcpy(&low128, leads.low.data(), 16);
    const __m256i high_table = _mm256_broadcastsi128_si256(high128);
    const __m256i low_table = _mm256_broadcastsi128_si256(low128);
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i zero = _mm256_setzero_si256();
    while (end - p >= 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const __m256i hi = _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble);
        const __m256i lo = _mm256_and_si256(v, nibble);
        const __m256i classes = _mm256_and_si256(_mm256_shuffle_epi8(high_table, hi),
                                                 _mm256_shuffle_epi8(low_table, lo));
        const auto not_member =
            static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(classes, zero)));
        if (not_member != 0xFFFFFFFFU) return p + __builtin_ctz(~not_member);
        p += 32;
    }
    return find_candidate_lead_portable(p, end, leads);
}
#endif

}  // namespace

bool cpu_has_avx2() {
    return has_avx2();
}

const std::uint8_t* find_non_ascii_portable(const std::uint8_t* p, const std::uint8_t* end) {
    while (end - p >= 8) {
        const std::uint64_t marks = load64(p) & HIGH_BITS;
        if (marks != 0) return p + first_marked_byte(marks);
        p += 8;
    }
    while (p < end && *p < 0x80)
        ++p;
    return p;
}

const std::uint8_t* find_candidate_lead_portable(const std::uint8_t* p, const std::uint8_t* end,
                                                 const CandidateLeads& leads) {
    while (end - p >= 8) {
        // Every candidate is 0xC0 or above: look only at bytes with the two
        // top bits set (bit 6 shifted up onto bit 7 of the same byte).
        const std::uint64_t w = load64(p);
        if ((w & (w << 1) & HIGH_BITS) != 0) {
            for (int i = 0; i < 8; ++i) {
                if (leads.member[p[i]]) return p + i;
            }
        }
        p += 8;
    }
    while (p < end && !leads.member[*p])
        ++p;
    return p;
}

const std::uint8_t* find_non_ascii(const std::uint8_t* p, const std::uint8_t* end) {
#ifdef TEXTMEND_HAVE_AVX2_PATH
    if (has_avx2()) return find_non_ascii_avx2(p, end);
#endif
    return find_non_ascii_portable(p, end);
}

const std::uint8_t* find_candidate_lead(const std::uint8_t* p, const std::uint8_t* end,
                                        const CandidateLeads& leads) {
#ifdef TEXTMEND_HAVE_AVX2_PATH
    if (has_avx2()) return find_candidate_lead_avx2(p, end, leads);
#endif
    return find_candidate_lead_portable(p, end, leads);
}

}  // namespace textmend
