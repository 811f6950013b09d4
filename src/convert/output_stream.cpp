#include "convert/output_stream.hpp"

#include <cassert>
#include <cerrno>
#include <cstring>

namespace textmend {

void output_init(OutputStream& out, ByteSink sink, std::uint8_t* storage, std::size_t capacity) {
    assert(storage != nullptr && capacity > 0);
    out.sink = sink;
    out.taker = StretchTaker{};
    out.storage = storage;
    out.capacity = capacity;
    out.used = 0;
    out.error = 0;
}

int sink_write_all(ByteSink sink, const std::uint8_t* bytes, std::size_t n) {
    while (n > 0) {
        errno = 0;
        const std::int64_t put = sink.write(sink.context, bytes, n);
        if (put <= 0) return put < 0 && errno != 0 ? errno : EIO;
        bytes += put;
        n -= static_cast<std::size_t>(put);
    }
    return 0;
}

// Writes all n bytes unless a write failed before; records the first failure.
static void write_all(OutputStream& out, const std::uint8_t* bytes, std::size_t n) {
    if (out.error == 0) out.error = sink_write_all(out.sink, bytes, n);
}

// Goes on in the buffer an exchanging sink gave back for the one it took;
// nullptr (a failed write) becomes the stream's error.
static void continue_in(OutputStream& out, std::uint8_t* next) {
    out.used = 0;
    if (next == nullptr) {
        out.error = errno != 0 ? errno : EIO;
    } else {
        out.storage = next;
    }
}

// Hands the full buffer to an exchanging sink and goes on in the one it gives.
static void exchange_buffer(OutputStream& out) {
    if (out.used > 0 && out.error == 0) {
        continue_in(out, out.sink.exchange(out.sink.context, out.storage, out.used));
    }
    out.used = 0;
}

void output_flush(OutputStream& out) {
    if (out.sink.exchange != nullptr) {
        exchange_buffer(out);
        return;
    }
    write_all(out, out.storage, out.used);
    out.used = 0;
}

// An exchanging sink writes only its own buffers: bytes are copied into them.
static void copy_through_buffers(OutputStream& out, const std::uint8_t* bytes, std::size_t n) {
    while (n > 0 && out.error == 0) {
        if (out.used == out.capacity) exchange_buffer(out);
        const std::size_t room = out.capacity - out.used;
        const std::size_t step = n < room ? n : room;
        std::memcpy(out.storage + out.used, bytes, step);
        out.used += step;
        bytes += step;
        n -= step;
    }
}

void output_write_block(OutputStream& out, const std::uint8_t* bytes, std::size_t n) {
    if (out.used + n <= out.capacity) {
        std::memcpy(out.storage + out.used, bytes, n);
        out.used += n;
        return;
    }
    if (out.sink.exchange != nullptr) {
        copy_through_buffers(out, bytes, n);
        return;
    }
    // Too much for the buffer: fill it up, pass it on, and write whole
    // buffers' worth straight from the caller's memory.
    const std::size_t head = out.capacity - out.used;
    std::memcpy(out.storage + out.used, bytes, head);
    out.used = out.capacity;
    output_flush(out);
    bytes += head;
    n -= head;
    if (n >= out.capacity) {
        write_all(out, bytes, n);
        return;
    }
    std::memcpy(out.storage, bytes, n);
    out.used = n;
}

void output_write_direct(OutputStream& out, const std::uint8_t* bytes, std::size_t n) {
    if (out.sink.exchange != nullptr) {
        copy_through_buffers(out, bytes, n);
        return;
    }
    output_flush(out);
    write_all(out, bytes, n);
}

std::size_t output_offer(OutputStream& out, const std::uint8_t* src, std::size_t available,
                         OutputMode mode) {
    if (out.taker.offer == nullptr || out.error != 0) return 0;
    std::uint8_t* next = nullptr;
    const std::size_t taken =
        out.taker.offer(out.taker.context, out.storage, out.used, src, available, mode, &next);
    if (taken > 0) continue_in(out, next);
    return taken;
}

}  // namespace textmend
