#include "convert/span_conversion.hpp"

#include <cstring>

#include "convert/bulk.hpp"
#include "convert/byte_tables.hpp"
#include "encoding/utf8.hpp"
#include "kernels/kernels.hpp"

namespace textmend {

namespace {

// The last bytes of an input are written exactly, nothing past the end of
// the result: by a kernel that stores exactly, or converted from a padded
// copy into a buffer here (below), of which exactly the bytes of the result
// are copied out. The whole-register stores of the
// bulk conversion before them reach at most BULK_OUTPUT_SLACK bytes past its
// output, and the last bytes always write at least that many (every unit of
// up to six bytes writes at least one), so those stores land where the
// result goes on.
constexpr std::size_t TAIL_INPUT = 6 * BULK_OUTPUT_SLACK + BULK_LOOK_AHEAD;

// Blocks of the widest kernels: the padded copy is converted a whole block
// at a time.
constexpr std::size_t PADDED_BLOCK = 64;
constexpr std::size_t PADDED_ROOM =
    (TAIL_INPUT + PADDED_BLOCK - 1) / PADDED_BLOCK * PADDED_BLOCK + BULK_LOOK_AHEAD;

BulkProgress convert_in_bulk(const std::uint8_t* p, const std::uint8_t* lead_end, std::uint8_t* out,
                             OutputMode mode) {
    return mode == MODE_UTF8 ? bulk_convert_to_utf8(p, lead_end, out)
                             : bulk_convert_to_latin1(p, lead_end, out, mode);
}

// The last bytes of an input (at most TAIL_INPUT), converted in bulk from a
// copy followed by bytes below 0x80 up to a whole block. Such a byte never
// continues a sequence, so a sequence the end cuts short is judged exactly
// as at the end of the input, and the padding converts to itself: it is
// taken off the end of the result. One call, through the block kernels, for
// a whole short input: for short values the cost of the calls is most of
// the cost of converting them.
std::uint8_t* convert_from_padded_copy(const std::uint8_t* p, const std::uint8_t* end,
                                       std::uint8_t* out, OutputMode mode) {
    std::uint8_t padded[PADDED_ROOM];
    std::uint8_t converted[3 * PADDED_ROOM + BULK_OUTPUT_SLACK];
    const auto n = static_cast<std::size_t>(end - p);
    const std::size_t blocks =
        n == 0 ? PADDED_BLOCK : (n + PADDED_BLOCK - 1) / PADDED_BLOCK * PADDED_BLOCK;
    std::memcpy(padded, p, n);
    std::memset(padded + n, 0, blocks + BULK_LOOK_AHEAD - n);
    const BulkProgress done = convert_in_bulk(padded, padded + blocks, converted, mode);
    const auto count = static_cast<std::size_t>((done.out - converted) - (done.in - (padded + n)));
    std::memcpy(out, converted, count);
    return out + count;
}

// The last bytes of an input. A kernel set that reads them in place (masked
// loads) and writes exactly the result does so, up to where it stops; the
// rest, and all of them with the other sets, go through the padded copy.
// Reading in place spares the copies and a stall: the padded copy is read
// by whole-register loads just after it was written in pieces, which the
// processor cannot forward from its stores (for values of a few dozen bytes
// that was half the cost of a call).
std::uint8_t* convert_last_bytes(const std::uint8_t* p, const std::uint8_t* end, std::uint8_t* out,
                                 OutputMode mode) {
    if (const auto last_blocks = kernels().last_blocks; last_blocks != nullptr) {
        const BulkProgress done = last_blocks(p, end, out, mode);
        if (done.in == end) return done.out;
        p = done.in;
        out = done.out;
    }
    return convert_from_padded_copy(p, end, out, mode);
}

}  // namespace

SpanProgress convert_span(const std::uint8_t* p, const std::uint8_t* end, bool input_ends,
                          std::uint8_t* out, OutputMode mode) {
    const std::size_t keep = input_ends ? TAIL_INPUT : BULK_LOOK_AHEAD - 1;
    if (end - p > static_cast<std::ptrdiff_t>(keep)) {
        const BulkProgress done = convert_in_bulk(p, end - keep, out, mode);
        p = done.in;
        out = done.out;
    }
    if (input_ends && p < end) {
        out = convert_last_bytes(p, end, out, mode);
        p = end;
    }
    return {p, out};
}

const std::uint8_t* unfinished_sequence_start(const std::uint8_t* p, const std::uint8_t* end,
                                              OutputMode mode) {
    // Back over the continuation bytes at the end; a lead byte further back
    // than five of them would need more than the longest sequence.
    const std::uint8_t* q = end;
    while (q > p && end - q < 5 && is_continuation_byte(q[-1]))
        --q;
    if (q == p) return end;
    const std::uint8_t* lead = q - 1;
    const std::int32_t needed = (mode == MODE_UTF8 ? STRICT_LENGTHS : PERMISSIVE_LENGTHS)[*lead];
    return needed > end - lead ? lead : end;
}

}  // namespace textmend
