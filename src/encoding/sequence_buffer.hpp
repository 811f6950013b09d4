// The bytes of one candidate UTF-8 sequence as a converter examines it.
#pragma once

#include <array>
#include <cstdint>

namespace textmend {

// Byte 0 is the lead byte, bytes 1..8 the bytes gathered after it; a position
// nothing was read into holds 0. Byte 9 is never written, so the buffer always
// ends with a zero byte. Sequences are at most 6 bytes long, so in practice
// only bytes 1..5 are ever filled.
using SequenceBuffer = std::array<std::uint8_t, 10>;

}  // namespace textmend
