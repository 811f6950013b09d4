// Byte sources and sinks on open file descriptors.
#pragma once

#include "convert/byte_io.hpp"

namespace textmend {

// The context of both is a pointer to the int holding the descriptor. Reads
// and writes interrupted by a signal are retried.
std::int64_t fd_read(void* context, std::uint8_t* dst, std::size_t n);
// One read; -1 with EINTR when a signal interrupted it, for a caller that
// has something to do then.
std::int64_t fd_read_once(int fd, std::uint8_t* dst, std::size_t n);
std::int64_t fd_write(void* context, const std::uint8_t* src, std::size_t n);
// Whether a read of fd would return at once (bytes, the end or an error).
// Where that cannot be told (Windows), false.
bool fd_read_ready(int fd);

inline ByteSource fd_source(int* fd) {
    return ByteSource{fd_read, fd};
}
inline ByteSink fd_sink(int* fd) {
    return ByteSink{fd_write, fd};
}

}  // namespace textmend
