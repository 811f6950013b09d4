// Undoing text encoded twice in a stream of bytes, before it is converted:
// each line is held until it is complete (or DOUBLE_LINE_MAX long), then
// handed on as the UTF-8 text it becomes when it is to be undone (see
// undo_double.hpp), and as it came otherwise. Converting what comes out
// gives what convert_undoing_double gives on the whole input, however the
// input arrives in pieces.
#pragma once

#include <cstddef>
#include <cstdint>

#include "convert/byte_io.hpp"
#include "convert/undo_double.hpp"

namespace textmend {

// Most bytes taken in at a time.
inline constexpr std::size_t UNDO_BLOCK_SIZE = 128 * 1024;

// Storage a LineUndoer needs: a line that is not yet complete, and the
// bytes read after it.
inline constexpr std::size_t UNDO_STORAGE_SIZE = DOUBLE_LINE_MAX + UNDO_BLOCK_SIZE;

struct LineUndoer {
    std::uint8_t* storage;  // UNDO_STORAGE_SIZE bytes, the caller's
    // storage[ready_begin .. ready_end): decided, to be handed on.
    std::size_t ready_begin;
    std::size_t ready_end;
    // storage[line_begin .. line_end): the line not yet complete.
    std::size_t line_begin;
    std::size_t line_end;
    bool long_line;  // in a line too long to undo: handed on as it comes
    UndoTally tally;
};

void undoer_init(LineUndoer& undoer, std::uint8_t* storage);

// Where the next bytes go, once everything decided has been taken: room
// receives how many (at least UNDO_BLOCK_SIZE).
[[nodiscard]] std::uint8_t* undoer_room(LineUndoer& undoer, std::size_t& room);

// Decides what the n bytes just put at undoer_room complete.
void undoer_added(LineUndoer& undoer, std::size_t n);

// The input has ended: its last line, without a newline, is decided.
void undoer_finish(LineUndoer& undoer);

[[nodiscard]] inline std::size_t undoer_ready(const LineUndoer& undoer) {
    return undoer.ready_end - undoer.ready_begin;
}

// Drops the decided bytes: for a caller that only counts what is undone.
inline void undoer_drop_ready(LineUndoer& undoer) {
    undoer.ready_begin = undoer.ready_end;
}

// Copies up to n decided bytes to dst; returns how many.
[[nodiscard]] std::size_t undoer_take(LineUndoer& undoer, std::uint8_t* dst, std::size_t n);

// A source that reads another through a LineUndoer. The inner source must
// read (not only view); it is read UNDO_BLOCK_SIZE bytes at a time or more,
// and a live one until a line is complete.
struct UndoingSource {
    ByteSource inner;
    LineUndoer undoer;
    bool ended;
};

// Starts source on inner with storage of UNDO_STORAGE_SIZE bytes, and
// returns the source that reads through it.
[[nodiscard]] ByteSource undoing_source(UndoingSource& source, ByteSource inner,
                                        std::uint8_t* storage);

}  // namespace textmend
