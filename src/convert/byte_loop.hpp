// The byte loop: every input byte is offered to the mode's converter, and a
// byte the converter declines is written unchanged.
#pragma once

#include "convert/input_stream.hpp"
#include "convert/output_mode.hpp"
#include "convert/output_stream.hpp"

namespace textmend {

// Converts the whole input, one byte at a time, exactly as the converters
// judge it. Stops early when a write fails (out.error is set then); a failed
// read ends the input (in.error is set then). Does not flush the output.
void convert_stream(InputStream& in, OutputStream& out, OutputMode mode);

}  // namespace textmend
