// Converting a span of bytes held in memory, where the caller knows whether
// the input ends with it: the library's buffers and pieces, and the last
// bytes a live input (a pipe, a terminal) has given so far.
#pragma once

#include <cstddef>
#include <cstdint>

#include "convert/output_mode.hpp"

namespace textmend {

struct SpanProgress {
    const std::uint8_t* stop;  // first input byte not converted
    std::uint8_t* out;         // next free output byte
};

// Converts [p, end), p being where the byte loop would offer a lead byte.
// - input_ends: [p, end) is the rest of the input. Everything is converted
//   and exactly the bytes of the result are written, nothing past them.
// - otherwise more input follows: the bytes up to a few before end are
//   converted in bulk, stopping at a lead position the next bytes may
//   change; out needs room for bulk_output_factor(mode) bytes per input
//   byte plus BULK_OUTPUT_SLACK.
[[nodiscard]] SpanProgress convert_span(const std::uint8_t* p, const std::uint8_t* end,
                                        bool input_ends, std::uint8_t* out, OutputMode mode);

// Where in [p, end) a sequence starts that bytes after end may still
// complete: a lead byte followed only by continuation bytes, fewer than its
// sequence needs (so at most five bytes, three with MODE_UTF8). end when
// there is none. Every byte before it is decided whatever follows: a lead
// byte before it meets a byte that is no continuation byte, or ends its
// sequence, before end. p must be a lead position as above.
[[nodiscard]] const std::uint8_t* unfinished_sequence_start(const std::uint8_t* p,
                                                            const std::uint8_t* end,
                                                            OutputMode mode);

}  // namespace textmend
