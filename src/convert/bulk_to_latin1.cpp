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
#include "convert/simd_support.hpp"
#include "convert/target_byte.hpp"

namespace textmend {

namespace {

// Code point of the n-byte sequence at p, or -1 when a following byte is
// not a continuation byte.
std::int32_t decode_checked(const std::uint8_t* p, std::int32_t n) {
    std::int32_t cp = p[0] & (0x7F >> n);
    for (std::int32_t i = 1; i < n; ++i) {
        if (!is_continuation_byte(p[i])) return -1;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    return cp;
}

}  // namespace

BulkProgress bulk_convert_to_latin1_scalar(const std::uint8_t* p, const std::uint8_t* lead_end,
                                           std::uint8_t* out, OutputMode mode) {
    const CandidateLeads& leads = mode == MODE_CP1252 ? CP1252_LEADS : LATIN1_LEADS;
    const std::uint8_t* run = p;  // start of the bytes copied as they are
    while (p < lead_end) {
        p = find_candidate_lead(p, lead_end, leads);
        if (p == lead_end) break;
        const std::int32_t n = PERMISSIVE_LENGTHS[*p];
        const std::int32_t cp = decode_checked(p, n);
        const std::int32_t b = cp < 0 ? -1 : target_byte(cp, mode);
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
#ifdef TEXTMEND_HAVE_AVX2_PATH
    if (cpu_has_avx2()) {
        const BulkProgress blocks = bulk_blocks_to_latin1_avx2(p, lead_end, out, mode);
        p = blocks.in;
        out = blocks.out;
    }
#endif
    return bulk_convert_to_latin1_scalar(p, lead_end, out, mode);
}

}  // namespace textmend
