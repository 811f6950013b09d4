#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/descriptors/path_walk.hpp"
#include "cli/output/output_location.hpp"

namespace textmend {

bool find_output_location(const char* path, OutputLocation& loc) {
    WalkedPath walked;
    if (!walk_path(path, ProcLink::by_text, walked)) return false;
    // The directory for the work in it: opened for reading, so that it can be
    // flushed after a rename; one that may be searched but not read is kept
    // for lookups only.
    close_output_location(loc);
    loc.dir_fd = openat(walked.dir_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    loc.dir_syncable = loc.dir_fd >= 0;
    if (loc.dir_fd >= 0) {
        close_walked_path(walked);
    } else {
        loc.dir_fd = walked.dir_fd;
    }
    std::memcpy(loc.name, walked.name, sizeof loc.name);
    return true;
}

void close_output_location(OutputLocation& loc) {
    if (loc.dir_fd >= 0) close(loc.dir_fd);
    loc.dir_fd = -1;
}

}  // namespace textmend
