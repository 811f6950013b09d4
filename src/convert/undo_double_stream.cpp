#include "convert/undo_double_stream.hpp"

#include <algorithm>
#include <cstring>

namespace textmend {

namespace {

// Hands on the bytes of storage[line_begin .. to) as they are, right after
// what is ready.
void hand_on(LineUndoer& u, std::size_t to) {
    const std::size_t n = to - u.line_begin;
    if (u.ready_end != u.line_begin) {
        std::memmove(u.storage + u.ready_end, u.storage + u.line_begin, n);
    }
    u.ready_end += n;
    u.line_begin = to;
}

// A line longer than DOUBLE_LINE_MAX is left as it is: its bytes are handed
// on up to its newline. Returns whether that newline came.
bool pass_long_line(LineUndoer& u) {
    std::uint8_t* from = u.storage + u.line_begin;
    const void* newline = std::memchr(from, '\n', u.line_end - u.line_begin);
    if (newline == nullptr) {
        hand_on(u, u.line_end);
        return false;
    }
    hand_on(u, static_cast<std::size_t>(static_cast<const std::uint8_t*>(newline) + 1 - u.storage));
    u.long_line = false;
    return true;
}

// Undoes the lines of storage[line_begin .. to) in place, right after what
// is ready.
void decide_lines(LineUndoer& u, std::size_t to) {
    std::uint8_t* s = u.storage;
    u.ready_end = static_cast<std::size_t>(
        undo_double_lines(s + u.ready_end, s + u.line_begin, s + to, u.tally) - s);
    u.line_begin = to;
}

}  // namespace

void undoer_init(LineUndoer& undoer, std::uint8_t* storage) {
    undoer = LineUndoer{};
    undoer.storage = storage;
}

std::uint8_t* undoer_room(LineUndoer& u, std::size_t& room) {
    // Everything ready has been taken: the line so far moves to the front.
    const std::size_t kept = u.line_end - u.line_begin;
    if (u.line_begin != 0) std::memmove(u.storage, u.storage + u.line_begin, kept);
    u.ready_begin = u.ready_end = u.line_begin = 0;
    u.line_end = kept;
    room = UNDO_STORAGE_SIZE - kept;
    return u.storage + kept;
}

void undoer_added(LineUndoer& u, std::size_t n) {
    u.line_end += n;
    if (u.long_line && !pass_long_line(u)) return;
    // The bytes before the new ones hold no newline.
    const std::uint8_t* s = u.storage;
    const std::uint8_t* from = s + std::max(u.line_begin, u.line_end - n);
    const std::uint8_t* last = line_start_before(from, s + u.line_end);
    if (last != from) decide_lines(u, static_cast<std::size_t>(last - s));
    // What a line holds beyond DOUBLE_LINE_MAX bytes, its newline still to
    // come, makes it one to leave alone.
    if (u.line_end - u.line_begin > DOUBLE_LINE_MAX) {
        u.long_line = true;
        (void)pass_long_line(u);
    }
}

void undoer_finish(LineUndoer& u) {
    if (u.long_line) {
        hand_on(u, u.line_end);
        return;
    }
    decide_lines(u, u.line_end);
}

std::size_t undoer_take(LineUndoer& u, std::uint8_t* dst, std::size_t n) {
    n = std::min(n, undoer_ready(u));
    std::memcpy(dst, u.storage + u.ready_begin, n);
    u.ready_begin += n;
    return n;
}

namespace {

std::int64_t read_undoing(void* context, std::uint8_t* dst, std::size_t n) {
    auto& source = *static_cast<UndoingSource*>(context);
    LineUndoer& u = source.undoer;
    while (undoer_ready(u) == 0) {
        if (source.ended) return 0;
        std::size_t room = 0;
        std::uint8_t* into = undoer_room(u, room);
        const std::int64_t got = source.inner.read(source.inner.context, into, room);
        if (got < 0) return -1;
        if (got == 0) {
            source.ended = true;
            undoer_finish(u);
        } else {
            undoer_added(u, static_cast<std::size_t>(got));
        }
    }
    return static_cast<std::int64_t>(undoer_take(u, dst, n));
}

}  // namespace

ByteSource undoing_source(UndoingSource& source, ByteSource inner, std::uint8_t* storage) {
    source.inner = inner;
    source.ended = false;
    undoer_init(source.undoer, storage);
    return ByteSource{read_undoing, &source};
}

}  // namespace textmend
