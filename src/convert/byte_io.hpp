// Where the streams get their bytes from and put them to: a function and its
// context, so that a file descriptor, a mapped file, a memory buffer or a test
// double that fails on purpose can stand behind the same stream.
#pragma once

#include <cstddef>
#include <cstdint>

namespace textmend {

// Reads up to n bytes into dst. Returns the count read (at least 1), 0 at the
// end of the input, or -1 with errno set on failure.
using ReadFunction = std::int64_t (*)(void* context, std::uint8_t* dst, std::size_t n);

// Shows the input from offset on without copying it: returns a pointer to
// the byte at offset and sets *length to the count of bytes readable there,
// at least min_length unless the input ends first (0 at the end). Returns
// nullptr with errno set on failure. The bytes stay readable until the next
// call; offset never moves backwards from one call to the next.
using ViewFunction = const std::uint8_t* (*)(void* context, std::int64_t offset,
                                             std::size_t min_length, std::size_t* length);

// Writes up to n bytes from src. Returns the count written (at least 1 when
// n > 0), or -1 with errno set on failure.
using WriteFunction = std::int64_t (*)(void* context, const std::uint8_t* src, std::size_t n);

// Takes the n bytes at filled to be written later, by another thread, and
// gives back the buffer to fill next (of the same capacity); the caller no
// longer touches filled. Returns nullptr with errno set once a write has
// failed.
using ExchangeFunction = std::uint8_t* (*)(void* context, std::uint8_t* filled, std::size_t n);

// A source offers read, or view (then read is not used), or both.
// read_at_hand is optional: a read that never waits for the source to get
// more bytes, -1 with errno EAGAIN when it would. Without it, a live
// source's read is taken to wait whenever the last one gave fewer bytes
// than asked for.
struct ByteSource {
    ReadFunction read;
    void* context;
    ViewFunction view = nullptr;
    ReadFunction read_at_hand = nullptr;
};

// A sink offers write, or exchange (then write is not used): an exchanging
// sink owns the buffers that output goes into.
struct ByteSink {
    WriteFunction write;
    void* context;
    ExchangeFunction exchange = nullptr;
};

}  // namespace textmend
