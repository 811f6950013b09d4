// Where a run of text encoded twice may start, 32 bytes at a time: for the
// scanner and for the inspection's blocks, which stop where one may. Only
// for translation units that check TEXTMEND_HAVE_AVX2_PATH.
#pragma once

#include "kernels/avx2/ops.hpp"

#ifdef TEXTMEND_HAVE_AVX2_PATH

namespace textmend::avx2 {

// Lanes of the 32 bytes at p where C3 is followed by 82..B4 and then by C2,
// C5, C6, CB or E2 (may_start_double_run): compares on the bytes at p, p + 1
// and p + 2, without a branch (in UTF-8 prose half the blocks hold a C3).
TEXTMEND_AVX2 inline std::uint32_t double_run_starts(const std::uint8_t* p) {
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

}  // namespace textmend::avx2

#endif
