// Converting a mapped input file safely: if the file is truncated while it is
// mapped, touching its vanished pages raises SIGBUS, which would kill the
// process half-way. The conversion is run so that such a fault ends it as a
// failed read instead.
#pragma once

#include "convert/input_stream.hpp"
#include "convert/output_mode.hpp"
#include "convert/output_stream.hpp"

namespace textmend {

// Runs convert_stream(in, out, mode). False when the input's pages vanished
// (the streams are then in no state to go on with).
[[nodiscard]] bool convert_guarding_mapped_input(InputStream& in, OutputStream& out,
                                                 OutputMode mode);

}  // namespace textmend
