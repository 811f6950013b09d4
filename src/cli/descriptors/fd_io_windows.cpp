#include <io.h>

#include <cerrno>

#include "cli/descriptors/fd_io.hpp"

namespace textmend {

std::int64_t fd_read_once(int fd, std::uint8_t* dst, std::size_t n) {
    if (n > FD_TRANSFER_MAX) n = FD_TRANSFER_MAX;
    return _read(fd, dst, static_cast<unsigned>(n));
}

// Whether a pipe has bytes at hand cannot be told here.
std::int64_t fd_read_at_hand(int fd, std::uint8_t* dst, std::size_t n) {
    (void)fd;
    (void)dst;
    (void)n;
    errno = EAGAIN;
    return -1;
}

std::int64_t fd_write(void* context, const std::uint8_t* src, std::size_t n) {
    const int fd = *static_cast<int*>(context);
    if (n > FD_TRANSFER_MAX) n = FD_TRANSFER_MAX;
    for (;;) {
        const int put = _write(fd, src, static_cast<unsigned>(n));
        if (put >= 0 || errno != EINTR) return static_cast<std::int64_t>(put);
    }
}

}  // namespace textmend
