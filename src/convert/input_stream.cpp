#include "convert/input_stream.hpp"

#include <cassert>
#include <cerrno>
#include <cstring>

namespace textmend {

void input_init(InputStream& in, ByteSource source, std::uint8_t* storage, std::size_t block_size,
                std::int64_t start) {
    assert((source.view != nullptr || storage != nullptr) && "a reading source needs storage");
    assert(block_size > 0);
    in.source = source;
    in.window = storage;
    in.storage = storage;
    in.capacity = input_storage_size(block_size);
    in.block_size = block_size;
    in.window_start = start;
    in.pos = 0;
    in.end = 0;
    in.at_end = 0;
    in.error = 0;
    in.live = false;
    in.drained = false;
}

static std::size_t kept_before(const InputStream& in) {
    return in.pos < INPUT_LOOK_BEHIND ? in.pos : INPUT_LOOK_BEHIND;
}

// Moves the unread bytes and up to INPUT_LOOK_BEHIND bytes before them to the
// front of the storage, so that the rest of it is free for the next read.
static void compact_window(InputStream& in) {
    const std::size_t first = in.pos - kept_before(in);
    if (first == 0) return;
    std::memmove(in.storage, in.storage + first, in.end - first);
    in.window_start += static_cast<std::int64_t>(first);
    in.pos -= first;
    in.end -= first;
}

static void fail(InputStream& in, int error) {
    in.error = error != 0 ? error : EIO;
    in.at_end = 1;
}

// Room for the next read, after moving the window's bytes to the front of
// the storage when the rest is too short for a block.
static std::size_t room_to_read(InputStream& in) {
    if (in.capacity - in.end < in.block_size) compact_window(in);
    const std::size_t room = in.capacity - in.end;
    return room > in.block_size ? in.block_size : room;
}

// Takes in what one read of room bytes gave.
static void take_read(InputStream& in, std::int64_t got, std::size_t room) {
    if (got > 0) {
        in.end += static_cast<std::size_t>(got);
        in.drained = static_cast<std::size_t>(got) < room;
    } else if (got == 0) {
        in.at_end = 1;
    } else {
        fail(in, errno);
    }
}

static void fill_by_reading(InputStream& in, std::size_t want) {
    while (in.end - in.pos < want && !in.at_end) {
        const std::size_t room = room_to_read(in);
        take_read(in, in.source.read(in.source.context, in.storage + in.end, room), room);
        if (in.live) return;
    }
}

bool input_fill_at_hand(InputStream& in) {
    if (in.at_end) return true;
    if (in.source.read_at_hand == nullptr) return false;
    const std::size_t room = room_to_read(in);
    errno = 0;
    const std::int64_t got = in.source.read_at_hand(in.source.context, in.storage + in.end, room);
    if (got < 0 && errno == EAGAIN) return false;
    take_read(in, got, room);
    return true;
}

// Asks the source for a new view that starts up to INPUT_LOOK_BEHIND bytes
// before the read position.
static void fill_by_viewing(InputStream& in, std::size_t want) {
    if (in.at_end) return;
    const std::size_t before = kept_before(in);
    const std::int64_t offset = in.window_start + static_cast<std::int64_t>(in.pos - before);
    std::size_t wanted = before + (want > in.block_size ? want : in.block_size);
    std::size_t length = 0;
    const std::uint8_t* view = in.source.view(in.source.context, offset, wanted, &length);
    if (view == nullptr) {
        fail(in, errno);
        return;
    }
    const std::size_t had = in.end - in.pos;
    in.window = view;
    in.window_start = offset;
    in.pos = before;
    in.end = length;
    if (length - before <= had || length < wanted) in.at_end = 1;
}

std::size_t input_fill(InputStream& in, std::size_t want) {
    assert(want <= INPUT_MAX_LOOK_AHEAD);
    if (in.end - in.pos >= want) return in.end - in.pos;
    if (in.source.view != nullptr) {
        fill_by_viewing(in, want);
    } else {
        fill_by_reading(in, want);
    }
    return in.end - in.pos;
}

bool input_seek(InputStream& in, std::int64_t offset) {
    const std::int64_t index = offset - in.window_start;
    if (index < 0 || index > static_cast<std::int64_t>(in.end)) return false;
    in.pos = static_cast<std::size_t>(index);
    return true;
}

}  // namespace textmend
