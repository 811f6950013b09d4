#include <cerrno>

#include "cli/descriptors/fd_io.hpp"

namespace textmend {

std::int64_t fd_read(void* context, std::uint8_t* dst, std::size_t n) {
    const int fd = *static_cast<int*>(context);
    for (;;) {
        const std::int64_t got = fd_read_once(fd, dst, n);
        if (got >= 0 || errno != EINTR) return got;
    }
}

}  // namespace textmend
