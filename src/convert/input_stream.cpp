#include "convert/input_stream.hpp"

#include <cerrno>
#include <cstring>

namespace textmend {

void input_init(InputStream& in, ByteSource source, std::uint8_t* storage, std::size_t block_size) {
    in.source = source;
    in.storage = storage;
    in.capacity = input_storage_size(block_size);
    in.block_size = block_size;
    in.window_start = 0;
    in.pos = 0;
    in.end = 0;
    in.at_end = 0;
    in.error = 0;
}

// Moves the unread bytes and up to INPUT_LOOK_BEHIND bytes before them to the
// front of the storage, so that the rest of it is free for the next read.
static void compact_window(InputStream& in) {
    const std::size_t keep_before = in.pos < INPUT_LOOK_BEHIND ? in.pos : INPUT_LOOK_BEHIND;
    const std::size_t first = in.pos - keep_before;
    if (first == 0) return;
    std::memmove(in.storage, in.storage + first, in.end - first);
    in.window_start += static_cast<std::int64_t>(first);
    in.pos -= first;
    in.end -= first;
}

std::size_t input_fill(InputStream& in, std::size_t want) {
    while (in.end - in.pos < want && !in.at_end) {
        if (in.capacity - in.end < in.block_size) compact_window(in);
        std::size_t room = in.capacity - in.end;
        if (room > in.block_size) room = in.block_size;
        const std::int64_t got = in.source.read(in.source.context, in.storage + in.end, room);
        if (got > 0) {
            in.end += static_cast<std::size_t>(got);
        } else {
            in.error = got < 0 ? (errno != 0 ? errno : EIO) : 0;
            in.at_end = 1;
        }
    }
    return in.end - in.pos;
}

int input_seek(InputStream& in, std::int64_t offset) {
    const std::int64_t index = offset - in.window_start;
    if (index < 0 || index > static_cast<std::int64_t>(in.end)) return -1;
    in.pos = static_cast<std::size_t>(index);
    return 0;
}

}  // namespace textmend
