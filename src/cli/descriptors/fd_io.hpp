// Byte sources and sinks on open file descriptors.
#pragma once

#include "convert/byte_io.hpp"

namespace textmend {

// One call moves at most this much, which every platform's read and write
// accept (the Windows CRT takes an unsigned int count).
inline constexpr std::size_t FD_TRANSFER_MAX = 1U << 30;

// The context of both is a pointer to the int holding the descriptor. Reads
// and writes interrupted by a signal are retried.
std::int64_t fd_read(void* context, std::uint8_t* dst, std::size_t n);
// One read; -1 with EINTR when a signal interrupted it, for a caller that
// has something to do then.
std::int64_t fd_read_once(int fd, std::uint8_t* dst, std::size_t n);
std::int64_t fd_write(void* context, const std::uint8_t* src, std::size_t n);
// One read that does not wait for the source to get more bytes: -1 with
// EAGAIN when it would (also where that cannot be told, on Windows).
std::int64_t fd_read_at_hand(int fd, std::uint8_t* dst, std::size_t n);

inline ByteSink fd_sink(int* fd) {
    return ByteSink{fd_write, fd};
}

}  // namespace textmend
