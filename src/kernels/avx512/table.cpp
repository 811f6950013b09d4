// The AVX-512 set's table: its own block kernels, scanner for runs and
// growth, and AVX2's other scanners.
#include "kernels/avx2/avx2.hpp"
#include "kernels/avx512/avx512.hpp"
#include "kernels/kernels.hpp"

#ifdef TEXTMEND_HAVE_AVX2_PATH

namespace textmend {

constinit const Kernels AVX512_KERNELS = {
    .set = KernelSet::avx512,
    .name = "avx512",
    .find_non_ascii = find_non_ascii_avx2,
    .find_candidate_lead = find_candidate_lead_avx2,
    .find_double_run_start = find_double_run_start_avx512,
    .blocks_to_latin1 = bulk_blocks_to_latin1_avx512,
    .blocks_to_utf8 = bulk_blocks_to_utf8_avx512,
    .last_blocks = last_blocks_avx512,
    .unchanged_blocks = bulk_blocks_unchanged_avx512,
    .inspect_blocks = inspect_blocks_avx512,
    .growth_of_blocks = growth_of_blocks_avx512,
};

}  // namespace textmend

#endif
