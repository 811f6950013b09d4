// Running the engine on bytes in memory, through the real streams.
#pragma once

#include <cstddef>
#include <string>

#include "convert/output_mode.hpp"

namespace textmend::test {

enum class Engine { BULK, BYTEWISE };

struct StreamShape {
    std::size_t read_block = 128 * 1024;  // the input stream's block size
    std::size_t source_chunk = 0;         // most bytes one read of the source returns (0: no limit)
    std::size_t output_buffer = 128 * 1024;
    bool view = false;  // the source shows its memory in windows instead of being read
    bool live = false;  // the source is read as a pipe is: what a read gives is written out
};

// Converts input through the real streams, with convert_stream (BULK) or
// convert_stream_bytewise. Short source reads stand for a pipe.
std::string convert_bytes(const std::string& input, OutputMode mode, Engine engine = Engine::BULK,
                          StreamShape shape = {});

// Converts input every way: byte by byte, in bulk, and in bulk between runs
// of ASCII padding (taken off again), which puts even a short input through
// the bulk converters. ASCII after a cut sequence acts as the end of the input
// does, so the padding changes nothing else. Returns "" when every result is
// expected, else what differed, in hex.
std::string check_conversion(const std::string& input, OutputMode mode,
                             const std::string& expected);

// A sink appending to the std::string its context points to.
std::int64_t string_write(void* context, const std::uint8_t* src, std::size_t n);

}  // namespace textmend::test
