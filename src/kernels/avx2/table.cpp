// The AVX2 set's table.
#include "kernels/avx2/avx2.hpp"
#include "kernels/kernels.hpp"

#ifdef TEXTMEND_HAVE_AVX2_PATH

namespace textmend {

constinit const Kernels AVX2_KERNELS = {
    .set = KernelSet::avx2,
    .name = "avx2",
    .find_non_ascii = find_non_ascii_avx2,
    .find_candidate_lead = find_candidate_lead_avx2,
    .find_double_run_start = find_double_run_start_avx2,
    .blocks_to_latin1 = bulk_blocks_to_latin1_avx2,
    .blocks_to_utf8 = bulk_blocks_to_utf8_avx2,
    .last_blocks = nullptr,
    .unchanged_blocks = bulk_blocks_unchanged_avx2,
    .inspect_blocks = inspect_blocks_avx2,
    .growth_of_blocks = growth_of_blocks_avx2,
};

}  // namespace textmend

#endif
