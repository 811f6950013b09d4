// Buffered output. Bytes are collected in a caller-owned buffer and handed to
// the sink in large blocks; with an exchanging sink, the sink owns the buffers
// and the stream fills one while the sink writes the others. The first failed write is remembered
// (its errno) and everything after it is dropped, so a caller checks once, at the end.
#pragma once

#include <cstddef>
#include <cstdint>

#include "convert/byte_io.hpp"
#include "convert/output_mode.hpp"
#include "convert/stretch_taker.hpp"

namespace textmend {

// Default size of the output buffer.
inline constexpr std::size_t OUTPUT_BUFFER_SIZE = 128 * 1024;

struct OutputStream {
    ByteSink sink;
    StretchTaker taker;  // none unless set after output_init
    std::uint8_t* storage;
    std::size_t capacity;
    std::size_t used;
    int error;  // errno of the first failed write, 0 when none failed
};

void output_init(OutputStream& out, ByteSink sink, std::uint8_t* storage, std::size_t capacity);

// Writes all n bytes to a writing sink, going on after short writes. Returns
// 0, or the errno of the failure (EIO when the sink gave none).
[[nodiscard]] int sink_write_all(ByteSink sink, const std::uint8_t* bytes, std::size_t n);

// Hands the buffered bytes to the sink. A failure is kept in out.error.
void output_flush(OutputStream& out);

inline void output_write_byte(OutputStream& out, std::int32_t b) {
    if (out.used == out.capacity) output_flush(out);
    out.storage[out.used++] = static_cast<std::uint8_t>(b);
}

void output_write_block(OutputStream& out, const std::uint8_t* bytes, std::size_t n);

// Writes n bytes after what is buffered, straight from bytes, without copying
// them into the buffer: for long stretches that pass through unchanged. An
// exchanging sink writes later than this returns, so for it they are copied.
void output_write_direct(OutputStream& out, const std::uint8_t* bytes, std::size_t n);

// Offers the input [src, src + available) to the stream's taker, which
// converts what it takes and writes it after what is buffered. Returns the
// count of bytes taken, 0 when there is no taker or it takes none; the
// caller converts the rest itself.
[[nodiscard]] std::size_t output_offer(OutputStream& out, const std::uint8_t* src,
                                       std::size_t available, OutputMode mode);

}  // namespace textmend
