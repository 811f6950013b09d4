#include <poll.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>

#include "cli/descriptors/fd_io.hpp"

namespace textmend {

std::int64_t fd_read_once(int fd, std::uint8_t* dst, std::size_t n) {
    if (n > FD_TRANSFER_MAX) n = FD_TRANSFER_MAX;
    return read(fd, dst, n);
}

std::int64_t fd_read_at_hand(int fd, std::uint8_t* dst, std::size_t n) {
    if (n > FD_TRANSFER_MAX) n = FD_TRANSFER_MAX;
#ifdef RWF_NOWAIT
    // One call that reads what is there: no separate question first, which
    // would cost a system call for every block of a fast pipe.
    iovec part{dst, n};
    for (;;) {
        const ssize_t got = preadv2(fd, &part, 1, -1, RWF_NOWAIT);
        if (got >= 0 || errno == EAGAIN) return got;
        if (errno == EINTR) continue;
        // A terminal, or a kernel without the flag, cannot tell: ask poll.
        if (errno != EOPNOTSUPP && errno != EINVAL && errno != ENOSYS) return -1;
        break;
    }
#endif
    pollfd request{fd, POLLIN, 0};
    if (poll(&request, 1, 0) <= 0) {
        errno = EAGAIN;
        return -1;
    }
    return fd_read(&fd, dst, n);
}

std::int64_t fd_write(void* context, const std::uint8_t* src, std::size_t n) {
    const int fd = *static_cast<int*>(context);
    if (n > FD_TRANSFER_MAX) n = FD_TRANSFER_MAX;
    for (;;) {
        const ssize_t put = write(fd, src, n);
        if (put >= 0 || errno != EINTR) return static_cast<std::int64_t>(put);
    }
}

}  // namespace textmend
