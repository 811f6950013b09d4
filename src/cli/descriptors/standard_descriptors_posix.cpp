#include <fcntl.h>
#include <unistd.h>

#include "cli/descriptors/standard_descriptors.hpp"

namespace textmend {

void open_missing_standard_descriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1) continue;
        // The lowest free number is fd itself, as the ones below it are open.
        const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) close(opened);
    }
}

}  // namespace textmend
