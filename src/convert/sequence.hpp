// Gathering the bytes that follow a lead byte, and giving them back.
#pragma once

#include <cassert>
#include <cstdint>

#include "convert/input_stream.hpp"
#include "encoding/sequence_buffer.hpp"

namespace textmend {

// Fills buffer positions 1 .. n-1 (at most 8) from the input for a sequence
// of length n. Stops early at the end of the input and leaves the unfilled
// positions as they were (zero in a freshly cleared buffer). For n of -1, 0
// or 1 nothing is read. The bytes read are consumed.
inline void gather_sequence(SequenceBuffer& buffer, std::int32_t n, InputStream& in) {
    for (std::int32_t i = 1; i < n && i < 9; ++i) {
        const std::int32_t b = input_read_byte(in);
        if (b == END_OF_INPUT) return;
        buffer[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(b);
    }
}

// Gives back what a converter read after its lead byte: the input continues at
// saved, the position taken at the start of the converter call.
inline void rewind_input(InputStream& in, std::int64_t saved) {
    const bool moved = input_seek(in, saved);
    assert(moved && "the stream keeps every position saved before a look-ahead");
    (void)moved;
}

}  // namespace textmend
