// The portable set's table: scanners on 64-bit words and no block kernels,
// whose entries return where they start for the stepwise code to do all.
#include "kernels/kernels.hpp"
#include "kernels/portable/portable.hpp"

namespace textmend {

namespace {

BulkProgress no_blocks_to_latin1(const std::uint8_t* p, const std::uint8_t*, std::uint8_t* out,
                                 OutputMode) {
    return {p, out};
}

BulkProgress no_blocks_to_utf8(const std::uint8_t* p, const std::uint8_t*, std::uint8_t* out) {
    return {p, out};
}

const std::uint8_t* no_unchanged_blocks(const std::uint8_t* p, const std::uint8_t*, OutputMode) {
    return p;
}

const std::uint8_t* no_inspect_blocks(InspectState&, const std::uint8_t* p, const std::uint8_t*) {
    return p;
}

std::int64_t no_growth_blocks(const std::uint8_t*&, const std::uint8_t*, OutputMode) {
    return 0;
}

}  // namespace

constinit const Kernels PORTABLE_KERNELS = {
    .set = KernelSet::portable,
    .name = "portable",
    .find_non_ascii = find_non_ascii_portable,
    .find_candidate_lead = find_candidate_lead_portable,
    .find_double_run_start = find_double_run_start_portable,
    .blocks_to_latin1 = no_blocks_to_latin1,
    .blocks_to_utf8 = no_blocks_to_utf8,
    .last_blocks = nullptr,
    .unchanged_blocks = no_unchanged_blocks,
    .inspect_blocks = no_inspect_blocks,
    .growth_of_blocks = no_growth_blocks,
};

}  // namespace textmend
