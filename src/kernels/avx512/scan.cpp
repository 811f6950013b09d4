// The AVX-512 set's own scanner: where a run of text encoded twice may
// start, 64 bytes at a time. The other scanners are AVX2's.
#include "kernels/avx512/avx512.hpp"

#ifdef TEXTMEND_HAVE_AVX2_PATH

#include <immintrin.h>

#include "kernels/avx512/ops.hpp"
#include "kernels/portable/portable.hpp"

namespace textmend {

using namespace avx512;

// Blocks without a byte C3 (ASCII, Latin-1, Cyrillic, Chinese: most blocks
// of most text) take one compare; in the others, lanes where C3 is followed
// by 82..B4 and then by C2, C5, C6, CB or E2 (may_start_double_run). The
// third byte is told by its two nibbles: high C with low 2, 5, 6 or B, or
// high E with low 2.
TEXTMEND_AVX512_ENTRY const std::uint8_t* find_double_run_start_avx512(const std::uint8_t* p,
                                                                       const std::uint8_t* end) {
    const __m512i c3 = constant_bytes(0xC3);
    const __m512i second_low = constant_bytes(0x82), second_span = constant_bytes(0xB4 - 0x82);
    const __m512i high_nibbles = constant_table(std::array<std::uint8_t, 16>{
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 2, 0});  // C: 1, E: 2
    const __m512i low_nibbles = constant_table(std::array<std::uint8_t, 16>{
        0, 0, 3, 0, 0, 1, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0});  // 2: C and E; 5, 6, B: C
    const __m512i nibble = constant_bytes(0x0F);
    while (end - p >= WIDE_BLOCK + 2) {
        const std::uint64_t first = _mm512_cmpeq_epi8_mask(_mm512_loadu_si512(p), c3);
        if (first != 0) {
            const __m512i second = _mm512_sub_epi8(_mm512_loadu_si512(p + 1), second_low);
            const std::uint64_t second_ok = _mm512_mask_cmple_epu8_mask(first, second, second_span);
            const std::uint64_t third_ok =
                nibble_lanes(_mm512_loadu_si512(p + 2), high_nibbles, low_nibbles, nibble);
            const std::uint64_t starts = second_ok & third_ok;
            if (starts != 0) return p + __builtin_ctzll(starts);
        }
        p += WIDE_BLOCK;
    }
    return find_double_run_start_portable(p, end);
}

}  // namespace textmend

#endif
