// Converting a whole stream. The reference is the byte loop: every input
// byte is offered to the mode's converter, and a byte the converter declines
// is written unchanged. convert_stream gives the same bytes faster: it writes
// long unchanged stretches straight from the input and converts the rest of
// its window in bulk (vector blocks, then the stepwise code), and only the
// last few bytes of the input go through the byte loop. docs/engine.md tells
// the whole way.
#pragma once

#include "convert/input_stream.hpp"
#include "convert/output_mode.hpp"
#include "convert/output_stream.hpp"

namespace textmend {

// Converts the whole input. Converts the input window in bulk wherever that
// gives the same bytes as the byte-at-a-time loop, and uses that loop for the
// last few bytes of the input and with an output buffer of fewer than
// BULK_MIN_OUTPUT bytes. Stops early when a write fails (out.error is set
// then); a failed read ends the input (in.error is set then). Does not flush
// the output.
void convert_stream(InputStream& in, OutputStream& out, OutputMode mode);

// The plain byte loop: one byte at a time through convert_to_latin1 or
// convert_to_utf8, with their look-ahead and rewind. The reference that the
// bulk path is tested against; same contract as convert_stream.
void convert_stream_bytewise(InputStream& in, OutputStream& out, OutputMode mode);

inline constexpr std::size_t BULK_MIN_OUTPUT = 256;

}  // namespace textmend
