// Where the streams get their bytes from and put them to: a function and its
// context, so that a file descriptor, a memory buffer or a test double that
// fails on purpose can stand behind the same stream.
#pragma once

#include <cstddef>
#include <cstdint>

namespace textmend {

// Reads up to n bytes into dst. Returns the count read (at least 1), 0 at the
// end of the input, or -1 with errno set on failure.
using ReadFunction = std::int64_t (*)(void* context, std::uint8_t* dst, std::size_t n);

// Writes up to n bytes from src. Returns the count written (at least 1 when
// n > 0), or -1 with errno set on failure.
using WriteFunction = std::int64_t (*)(void* context, const std::uint8_t* src, std::size_t n);

struct ByteSource {
    ReadFunction read;
    void* context;
};

struct ByteSink {
    WriteFunction write;
    void* context;
};

}  // namespace textmend
