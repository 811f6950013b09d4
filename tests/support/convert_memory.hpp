// Running the engine on bytes in memory, through the real streams.
#pragma once

#include <cstddef>
#include <string>

#include "convert/output_mode.hpp"

namespace textmend::test {

// Converts input with the byte loop. read_block is the stream's block size;
// source_chunk limits how many bytes each read of the source returns (0: no
// limit), so that short reads as from a pipe are exercised too.
std::string convert_bytes(const std::string& input, OutputMode mode,
                          std::size_t read_block = 128 * 1024, std::size_t source_chunk = 0);

// A sink appending to the std::string its context points to.
std::int64_t string_write(void* context, const std::uint8_t* src, std::size_t n);

}  // namespace textmend::test
