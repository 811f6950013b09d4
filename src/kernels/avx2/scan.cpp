// The scanners with 32-byte vectors; the last bytes go to the portable ones.
#include "kernels/avx2/avx2.hpp"

#ifdef TEXTMEND_HAVE_AVX2_PATH

#include "kernels/avx2/ops.hpp"
#include "kernels/avx2/run_starts.hpp"
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
