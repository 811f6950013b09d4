// Buffered input with a look-ahead window.
//
// The converters read a few bytes past a lead byte and then seek back to the
// position just after it. The stream reads large blocks and keeps the last
// bytes it handed out when it moves to the next block, so a seek back to any
// position saved before a look-ahead lands inside the window even when the
// look-ahead crossed a block boundary or met the end of the input. It never
// repositions the underlying file, so pipes, FIFOs and terminals work too.
//
// A source that can show its bytes in place (a mapped file, memory) is not
// copied at all: the window is then the source's own memory.
#pragma once

#include <cstddef>
#include <cstdint>

#include "convert/byte_io.hpp"

namespace textmend {

inline constexpr std::int32_t END_OF_INPUT = -1;

// Bytes kept before the read position when the window moves on. A converter
// seeks back at most 6 bytes (lead byte and the five bytes of the longest
// sequence); more are kept so that callers never come near the limit.
inline constexpr std::size_t INPUT_LOOK_BEHIND = 64;

// Most bytes a caller may ask input_fill to make available at once.
inline constexpr std::size_t INPUT_MAX_LOOK_AHEAD = 64;

// Default size of one read from the source.
inline constexpr std::size_t INPUT_BLOCK_SIZE = 128 * 1024;

// Storage a stream needs for reads of block_size bytes.
constexpr std::size_t input_storage_size(std::size_t block_size) {
    return INPUT_LOOK_BEHIND + INPUT_MAX_LOOK_AHEAD + block_size;
}

struct InputStream {
    ByteSource source;
    const std::uint8_t* window;  // the bytes at hand: window[0 .. end)
    std::uint8_t* storage;       // what reads go into (the window for a read source)
    std::size_t capacity;        // size of storage
    std::size_t block_size;      // most bytes asked of the source per read
    std::int64_t window_start;   // input offset of window[0]
    std::size_t pos;             // index of the next unread byte
    std::size_t end;             // count of valid bytes in the window
    int at_end;                  // 1 once the source reported its end or failed
    int error;                   // errno of a failed read, 0 when none failed
    // A live source (a pipe, a socket, a terminal) gives what it has when it
    // is read, and waits only when it has nothing: input_fill then reads at
    // most once, and drained tells that the last read gave fewer bytes than
    // asked for, so that the next one may wait. Set live after input_init.
    bool live;
    bool drained;
};

// Sets up a stream on source. A source that reads needs storage of
// input_storage_size(block_size) bytes, owned by the caller and outliving
// the stream; a source that views (source.view set) needs none (nullptr),
// and block_size is the least it is asked to show at a time. start is the
// input offset of the first byte the source gives: a viewing source is asked
// for that offset, a reading one must be positioned there already.
void input_init(InputStream& in, ByteSource source, std::uint8_t* storage, std::size_t block_size,
                std::int64_t start = 0);

// Makes at least want (<= INPUT_MAX_LOOK_AHEAD) unread bytes available unless
// the input ends first, or a live source gave fewer; returns the count of
// unread bytes in the window.
std::size_t input_fill(InputStream& in, std::size_t want);

inline std::size_t input_available(const InputStream& in) {
    return in.end - in.pos;
}

// After a live source's read gave fewer bytes than asked for (in.drained),
// reads what the source has at hand without waiting for more. Returns false
// when it had nothing: the next read may wait.
[[nodiscard]] bool input_fill_at_hand(InputStream& in);

// Next byte as 0..255, or END_OF_INPUT at the end of the input or after a
// failed read (in.error tells which).
inline std::int32_t input_read_byte(InputStream& in) {
    if (in.pos == in.end && input_fill(in, 1) == 0) return END_OF_INPUT;
    return in.window[in.pos++];
}

// Offset of the next unread byte from the start of the input.
inline std::int64_t input_tell(const InputStream& in) {
    return in.window_start + static_cast<std::int64_t>(in.pos);
}

// Moves the read position to offset; false (position unchanged) when offset
// lies outside the window. After the end of the input was met, a seek back
// makes the bytes after offset readable again.
[[nodiscard]] bool input_seek(InputStream& in, std::int64_t offset);

}  // namespace textmend
