// The scanners with 32-byte vectors; the last bytes go to the portable ones.
#include "kernels/avx2/avx2.hpp"

#ifdef TEXTMEND_HAVE_AVX2_PATH

#include "kernels/avx2/ops.hpp"
#include "kernels/portable/portable.hpp"

namespace textmend {

TEXTMEND_AVX2_ENTRY const std::uint8_t* find_non_ascii_avx2(const std::uint8_t* p,
                                                            const std::uint8_t* end) {
    using namespace avx2;
    while (end - p >= 64) {
        const std::uint32_t mask_a = mask_of(load(p));
        const std::uint32_t mask_b = mask_of(load(p + 32));
        if ((mask_a | mask_b) != 0) {
            return mask_a != 0 ? p + __builtin_ctz(mask_a) : p + 32 + __builtin_ctz(mask_b);
        }
        p += 64;
    }
    return find_non_ascii_portable(p, end);
}

TEXTMEND_AVX2_ENTRY const std::uint8_t* find_candidate_lead_avx2(const std::uint8_t* p,
                                                                 const std::uint8_t* end,
                                                                 const CandidateLeads& leads) {
    using namespace avx2;
    const CandidateClassifier classifier = classifier_for(leads);
    while (end - p >= 32) {
        const std::uint32_t members = candidate_lanes(classifier, load(p));
        if (members != 0) return p + __builtin_ctz(members);
        p += 32;
    }
    return find_candidate_lead_portable(p, end, leads);
}

namespace {

// Lanes of the 32 bytes at p where C3 is followed by 82..B4 and then by C2,
// C5, C6, CB or E2 (may_start_double_run): compares on the bytes at p, p + 1
// and p + 2, without a branch (in UTF-8 prose half the blocks hold a C3).
TEXTMEND_AVX2 inline std::uint32_t double_run_starts(const std::uint8_t* p) {
    using namespace avx2;
    const __m256i first = _mm256_cmpeq_epi8(load(p), splat(0xC3));
    const __m256i second = in_range(load(p + 1), 0x82, 0xB4);
    const __m256i t = load(p + 2);
    const __m256i third = _mm256_or_si256(
        _mm256_or_si256(_mm256_cmpeq_epi8(t, splat(0xC2)), _mm256_cmpeq_epi8(t, splat(0xC5))),
        _mm256_or_si256(
            _mm256_or_si256(_mm256_cmpeq_epi8(t, splat(0xC6)), _mm256_cmpeq_epi8(t, splat(0xCB))),
            _mm256_cmpeq_epi8(t, splat(0xE2))));
    return mask_of(_mm256_and_si256(first, _mm256_and_si256(second, third)));
}

}  // namespace

TEXTMEND_AVX2_ENTRY const std::uint8_t* find_double_run_start_avx2(const std::uint8_t* p,
                                                                   const std::uint8_t* end) {
    using namespace avx2;
    while (end - p >= 2 * BLOCK + 2) {
        const std::uint32_t low = double_run_starts(p);
        const std::uint32_t high = double_run_starts(p + BLOCK);
        if ((low | high) != 0)
            return low != 0 ? p + __builtin_ctz(low) : p + BLOCK + __builtin_ctz(high);
        p += 2 * BLOCK;
    }
    return find_double_run_start_portable(p, end);
}

}  // namespace textmend

#endif
