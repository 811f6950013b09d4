// Converter of the default mode and of -w: a UTF-8 sequence whose character
// the target set has becomes that single byte; every other byte is declined
// and so reaches the output unchanged.
#pragma once

#include <cstdint>

#include "convert/input_stream.hpp"
#include "convert/output_mode.hpp"
#include "convert/output_stream.hpp"

namespace textmend {

// c is the byte just read (0..255); mode is MODE_LATIN1 or MODE_CP1252.
// Returns 1 (handled: the output for c was written and the sequence's bytes
// are consumed) or 0 (declined: nothing written, input back after c).
std::int32_t convert_to_latin1(std::int32_t c, InputStream& in, OutputStream& out, OutputMode mode);

}  // namespace textmend
