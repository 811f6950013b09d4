// Memory as a byte source, for tests that feed input in pieces of a chosen
// size and for the engine benchmark.
#pragma once

#include <cstddef>
#include <cstdint>

#include "convert/byte_io.hpp"

namespace textmend {

struct MemorySource {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos;
    std::size_t chunk;  // most bytes handed out per read; 0 for no limit
};

std::int64_t memory_read(void* context, std::uint8_t* dst, std::size_t n);

// Shows the memory in place; chunk, when set, limits each view to at least
// min_length and at most max(chunk, min_length) bytes.
const std::uint8_t* memory_view(void* context, std::int64_t offset, std::size_t min_length,
                                std::size_t* length);

// A source that reads (copies) the memory.
inline ByteSource memory_source(MemorySource* m) {
    return ByteSource{memory_read, m};
}

// A source that shows the memory without copying it.
inline ByteSource memory_view_source(MemorySource* m) {
    return ByteSource{memory_read, m, memory_view};
}

}  // namespace textmend
