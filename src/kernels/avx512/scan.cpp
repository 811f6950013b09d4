// The AVX-512 set's own scanner: where a run of text encoded twice may
// start, 64 bytes at a time. The other scanners are AVX2's.
#include "kernels/avx512/avx512.hpp"

#ifdef TEXTMEND_HAVE_AVX2_PATH

#include <immintrin.h>

#include "kernels/avx512/ops.hpp"
#include "kernels/avx512/run_starts.hpp"
#include "kernels/portable/portable.hpp"

namespace textmend {

using namespace avx512;

// Four blocks at a time: when none holds a byte C3 followed two on by a lead
// (ASCII, Latin-1, Cyrillic, Chinese, UTF-8 prose: most of most text) they
// take two compares each; else all four are looked at without a branch per
// block, which in mixed prose would go either way at random.
TEXTMEND_AVX512_ENTRY const std::uint8_t* find_double_run_start_avx512(const std::uint8_t* p,
                                                                       const std::uint8_t* end) {
    const RunStartConstants k = run_start_constants();
    constexpr std::ptrdiff_t GROUP = 4 * WIDE_BLOCK;
    while (end - p >= GROUP + 2) {
        const std::uint64_t a = c3_lanes(p, k), b = c3_lanes(p + WIDE_BLOCK, k),
                            c = c3_lanes(p + 2 * WIDE_BLOCK, k),
                            d = c3_lanes(p + 3 * WIDE_BLOCK, k);
        if ((a | b | c | d) != 0) {
            const std::uint64_t starts[4] = {run_starts(p, a, k), run_starts(p + WIDE_BLOCK, b, k),
                                             run_starts(p + 2 * WIDE_BLOCK, c, k),
                                             run_starts(p + 3 * WIDE_BLOCK, d, k)};
            for (int i = 0; i < 4; ++i) {
                if (starts[i] != 0) return p + i * WIDE_BLOCK + __builtin_ctzll(starts[i]);
            }
        }
        p += GROUP;
    }
    while (end - p >= WIDE_BLOCK + 2) {
        const std::uint64_t starts = run_starts(p, c3_lanes(p, k), k);
        if (starts != 0) return p + __builtin_ctzll(starts);
        p += WIDE_BLOCK;
    }
    return find_double_run_start_portable(p, end);
}

}  // namespace textmend

#endif
