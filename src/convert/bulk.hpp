// Converting a span of bytes in memory at once: the fast path of the byte
// loop. The result is the same, byte for byte, as offering each byte to the
// converters one at a time; the shortcuts are only taken where that is so.
#pragma once

#include <cstdint>

#include "convert/output_mode.hpp"

namespace textmend {

// Bytes past the end of a span that a bulk converter may read: enough for
// the longest sequence to start at the span's last byte.
inline constexpr std::size_t BULK_LOOK_AHEAD = 8;

// Most output bytes per input byte that a bulk converter writes: -u turns a
// Windows-1252 byte into three bytes of UTF-8.
constexpr std::size_t bulk_output_factor(OutputMode mode) {
    return mode == MODE_UTF8 ? 3 : 1;
}

struct BulkProgress {
    const std::uint8_t* in;  // next input byte to convert
    std::uint8_t* out;       // next free output byte
};

// Room beyond the result that a bulk converter may overwrite: whole vector
// stores run past the bytes that count. Every store starts at the current
// output position and reaches at most 32 bytes past the bytes it writes that
// count, so nothing is ever written more than BULK_OUTPUT_SLACK bytes past
// the end of the whole result.
inline constexpr std::size_t BULK_OUTPUT_SLACK = 64;

// Converts the bytes from p on while p is before lead_end. A sequence, or an
// ASCII run read eight bytes at a time, is taken whole, so the returned input
// position may lie up to BULK_LOOK_AHEAD - 1 bytes past lead_end. Bytes up
// to lead_end + BULK_LOOK_AHEAD - 1 must be readable, and out must have room
// for bulk_output_factor(mode) bytes per input byte consumed plus
// BULK_OUTPUT_SLACK. p must be where the byte loop would offer a lead byte
// (not inside a sequence it has taken whole).
BulkProgress bulk_convert_to_latin1(const std::uint8_t* p, const std::uint8_t* lead_end,
                                    std::uint8_t* out, OutputMode mode);
BulkProgress bulk_convert_to_utf8(const std::uint8_t* p, const std::uint8_t* lead_end,
                                  std::uint8_t* out);

// End of the stretch from p on that the conversion would pass through
// unchanged, found without converting anything: a lead position at or after
// p, at most BULK_LOOK_AHEAD - 1 bytes past lead_end. It may stop early (at a
// sequence that turns out to stay as it is), never late. Same conditions on
// readable bytes as above.
const std::uint8_t* bulk_unchanged_prefix(const std::uint8_t* p, const std::uint8_t* lead_end,
                                          OutputMode mode);

// The stepwise code: a sequence or a byte at a time between the runs that
// the active kernels' scanners (find_non_ascii, find_candidate_lead) pass
// over many bytes at a time. It goes on where the block kernels stop, and
// the kernels hand it a block they do not handle themselves.
BulkProgress bulk_convert_to_latin1_stepwise(const std::uint8_t* p, const std::uint8_t* lead_end,
                                             std::uint8_t* out, OutputMode mode);
BulkProgress bulk_convert_to_utf8_stepwise(const std::uint8_t* p, const std::uint8_t* lead_end,
                                           std::uint8_t* out);
const std::uint8_t* bulk_unchanged_prefix_stepwise(const std::uint8_t* p,
                                                   const std::uint8_t* lead_end, OutputMode mode);

}  // namespace textmend
