// In the default mode and with -w only a candidate lead byte (see
// CandidateLeads) followed by the continuation bytes of its length can
// change: it becomes one byte when its code point is in the target set.
// Every other byte is declined by convert_to_latin1 and copied, and that
// includes the continuation bytes of a sequence left as it is, which are
// declined one by one as lead bytes of length 0. So the span is copied in
// runs between the sequences that are converted.
#include <cstring>

#include "convert/bulk.hpp"
#include "convert/scan.hpp"
#include "encoding/target_byte.hpp"
#include "kernels/kernels.hpp"
#include "kernels/simd_support.hpp"

namespace textmend {

BulkProgress bulk_convert_to_latin1_stepwise(const std::uint8_t* p, const std::uint8_t* lead_end,
                                             std::uint8_t* out, OutputMode mode) {
    const CandidateLeads& leads = mode == MODE_CP1252 ? CP1252_LEADS : LATIN1_LEADS;
    const std::uint8_t* run = p;  // start of the bytes copied as they are
    while (p < lead_end) {
        p = find_candidate_lead(p, lead_end, leads);
        if (p == lead_end) break;
        const std::int32_t n = PERMISSIVE_LENGTHS[*p];
        const std::int32_t b = utf8_continues(p, n) ? target_byte(utf8_decode_at(p, n), mode) : -1;
        if (b < 0) {
            ++p;
            continue;
        }
        const auto copied = static_cast<std::size_t>(p - run);
        std::memcpy(out, run, copied);
        out += copied;
        *out++ = static_cast<std::uint8_t>(b);
        p += n;
        run = p;
    }
    const auto copied = static_cast<std::size_t>(p - run);
    std::memcpy(out, run, copied);
    return {p, out + copied};
}

BulkProgress bulk_convert_to_latin1(const std::uint8_t* p, const std::uint8_t* lead_end,
                                    std::uint8_t* out, OutputMode mode) {
    const BulkProgress blocks = kernels().blocks_to_latin1(p, lead_end, out, mode);
    return bulk_convert_to_latin1_stepwise(blocks.in, lead_end, blocks.out, mode);
}

}  // namespace textmend
