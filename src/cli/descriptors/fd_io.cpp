#include "cli/fd_io.hpp"

#include <cerrno>

#ifdef _WIN32
#include <io.h>
#else
#include <poll.h>
#include <sys/uio.h>
#include <unistd.h>
#endif

namespace textmend {

// One call moves at most this much, which every platform's read and write
// accept (the Windows CRT takes an unsigned int count).
static constexpr std::size_t MAX_TRANSFER = 1U << 30;

std::int64_t fd_read_once(int fd, std::uint8_t* dst, std::size_t n) {
    if (n > MAX_TRANSFER) n = MAX_TRANSFER;
#ifdef _WIN32
    return _read(fd, dst, static_cast<unsigned>(n));
#else
    return read(fd, dst, n);
#endif
}

std::int64_t fd_read(void* context, std::uint8_t* dst, std::size_t n) {
    const int fd = *static_cast<int*>(context);
    for (;;) {
        const std::int64_t got = fd_read_once(fd, dst, n);
        if (got >= 0 || errno != EINTR) return got;
    }
}

std::int64_t fd_read_at_hand(int fd, std::uint8_t* dst, std::size_t n) {
    if (n > MAX_TRANSFER) n = MAX_TRANSFER;
#ifdef _WIN32
    (void)fd;
    (void)dst;
    errno = EAGAIN;
    return -1;
#else
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
#endif
}

std::int64_t fd_write(void* context, const std::uint8_t* src, std::size_t n) {
    const int fd = *static_cast<int*>(context);
    if (n > MAX_TRANSFER) n = MAX_TRANSFER;
    for (;;) {
#ifdef _WIN32
        const int put = _write(fd, src, static_cast<unsigned>(n));
#else
        const ssize_t put = write(fd, src, n);
#endif
        if (put >= 0 || errno != EINTR) return static_cast<std::int64_t>(put);
    }
}

}  // namespace textmend
