// Converter of -u: well-formed UTF-8 sequences are kept as they are; any other
// high byte is taken as a Latin-1 (0xA0..0xFF) or Windows-1252 (0x80..0x9F)
// character and written as UTF-8. The five bytes Windows-1252 leaves
// undefined are declined and so copied unchanged.
#pragma once

#include <cstdint>

#include "convert/input_stream.hpp"
#include "convert/output_stream.hpp"

namespace textmend {

// c is the byte just read (0..255). Returns 1 (handled) or 0 (declined: nothing
// written, input back after c).
std::int32_t convert_to_utf8(std::int32_t c, InputStream& in, OutputStream& out);

}  // namespace textmend
