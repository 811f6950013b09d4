// Byte sources and sinks on memory, for converting data that is already in
// memory and for tests that feed input in pieces of a chosen size.
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

inline ByteSource memory_source(MemorySource* m) {
    return ByteSource{memory_read, m};
}

}  // namespace textmend
