// Where a run of text encoded twice may start, 64 bytes at a time: for the
// scanner and for the inspection's blocks, which stop where one may. Only
// for translation units that check TEXTMEND_HAVE_AVX2_PATH.
#pragma once

#include "kernels/avx512/ops.hpp"

#ifdef TEXTMEND_HAVE_AVX2_PATH

#include <array>

namespace textmend::avx512 {

struct RunStartConstants {
    __m512i c3, second_low, second_span, third_low, high_nibbles, low_nibbles, nibble;
};

TEXTMEND_AVX512 inline RunStartConstants run_start_constants() {
    return {
        constant_bytes(0xC3),
        constant_bytes(0x82),
        constant_bytes(0xB4 - 0x82),
        constant_bytes(0xC2),
        constant_table(std::array<std::uint8_t, 16>{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 2,
                                                    0}),  // C: 1, E: 2
        constant_table(std::array<std::uint8_t, 16>{0, 0, 3, 0, 0, 1, 1, 0, 0, 0, 0, 1, 0, 0, 0,
                                                    0}),  // 2: C and E; 5, 6, B: C
        constant_bytes(0x0F),
    };
}

// Lanes of the 64 bytes at p where C3 (first: those lanes) is followed by
// 82..B4 and then by C2, C5, C6, CB or E2 (may_start_double_run). The third
// byte is told by its two nibbles: high C with low 2, 5, 6 or B, or high E
// with low 2.
TEXTMEND_AVX512 inline std::uint64_t run_starts(const std::uint8_t* p, std::uint64_t first,
                                                const RunStartConstants& k) {
    const __m512i second = _mm512_sub_epi8(_mm512_loadu_si512(p + 1), k.second_low);
    const std::uint64_t second_ok = _mm512_mask_cmple_epu8_mask(first, second, k.second_span);
    return second_ok &
           nibble_lanes(_mm512_loadu_si512(p + 2), k.high_nibbles, k.low_nibbles, k.nibble);
}

// Lanes of the 64 bytes at p where C3 is followed two bytes on by a byte
// C2 or above, which every run start is: in UTF-8 prose C3 is common (é, ü,
// ñ), but a letter of two bytes followed at once by another is not, so
// most blocks with a C3 are passed over by this test alone.
TEXTMEND_AVX512 inline std::uint64_t c3_lanes(const std::uint8_t* p, const RunStartConstants& k) {
    return _mm512_mask_cmpge_epu8_mask(_mm512_cmpeq_epi8_mask(_mm512_loadu_si512(p), k.c3),
                                       _mm512_loadu_si512(p + 2), k.third_low);
}

}  // namespace textmend::avx512

#endif
