// Finding how far the input passes through unchanged, so that such stretches
// can be written straight from the input instead of being copied.
#include "convert/bulk.hpp"
#include "convert/scan.hpp"
#include "kernels/kernels.hpp"
#include "kernels/simd_support.hpp"

namespace textmend {

namespace {

// Default mode and -w: a candidate lead followed by a continuation byte may
// start a sequence that changes; nothing else can.
const std::uint8_t* unchanged_to_latin1(const std::uint8_t* p, const std::uint8_t* lead_end,
                                        OutputMode mode) {
    const CandidateLeads& leads = mode == MODE_CP1252 ? CP1252_LEADS : LATIN1_LEADS;
    for (;; ++p) {
        p = find_candidate_lead(p, lead_end, leads);
        if (p >= lead_end || is_continuation_byte(p[1])) return p;
    }
}

// -u: ASCII and well-formed sequences stay; the first other byte ends it.
const std::uint8_t* unchanged_to_utf8(const std::uint8_t* p, const std::uint8_t* lead_end) {
    while (p < lead_end) {
        if (*p < 0x80) {
            p = find_non_ascii(p, lead_end);
            continue;
        }
        const std::int32_t n = STRICT_LENGTHS[*p];
        if (n < 2 || !utf8_continues(p, n)) return p;
        p += n;
    }
    return p;
}

}  // namespace

const std::uint8_t* bulk_unchanged_prefix_stepwise(const std::uint8_t* p,
                                                   const std::uint8_t* lead_end, OutputMode mode) {
    return mode == MODE_UTF8 ? unchanged_to_utf8(p, lead_end)
                             : unchanged_to_latin1(p, lead_end, mode);
}

// Where the blocks stop (at the end of the blocks, or at a lead position
// where a change may start), the stepwise search goes on; at a change it
// stops at once.
const std::uint8_t* bulk_unchanged_prefix(const std::uint8_t* p, const std::uint8_t* lead_end,
                                          OutputMode mode) {
    return bulk_unchanged_prefix_stepwise(kernels().unchanged_blocks(p, lead_end, mode), lead_end,
                                          mode);
}

}  // namespace textmend
