#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "tree/system.hpp"

namespace textmend::tree {

bool standard_error_is_terminal() {
    return isatty(STDERR_FILENO) != 0;
}

const char* special_file_kind(int fd) {
    struct stat st {};
    if (fstat(fd, &st) == 0) {
        if (S_ISFIFO(st.st_mode)) return "FIFO";
        if (S_ISSOCK(st.st_mode)) return "socket";
    }
    return "device";
}

// The processors of the affinity mask: a run limited by taskset or a
// container's CPU set starts no more jobs than it may use.
unsigned processors_available() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) {
        return static_cast<unsigned>(CPU_COUNT(&set));
    }
    const unsigned n = std::thread::hardware_concurrency();
    return n > 0 ? n : 1;
}

}  // namespace textmend::tree
