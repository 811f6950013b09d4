#include "report/files.hpp"

#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace textmend::report {

int open_for_reading(const char* name) {
    if (std::strcmp(name, "-") == 0) return 0;
    return open(name, O_RDONLY | O_CLOEXEC | O_NOCTTY);
}

void close_input(int fd) {
    if (fd != 0) close(fd);
}

std::int64_t regular_file_size(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<std::int64_t>(st.st_size);
}

std::FILE* open_spool() {
    const char* dir = std::getenv("TMPDIR");
    if (dir == nullptr || *dir == '\0') dir = "/tmp";
    const int fd = open(dir, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) {
        if (std::FILE* file = fdopen(fd, "w+b")) return file;
        close(fd);
    }
    return std::tmpfile();
}

bool stdout_is_a_colour_terminal() {
    const char* term = std::getenv("TERM");
    return isatty(STDOUT_FILENO) && std::getenv("NO_COLOR") == nullptr && term != nullptr &&
           std::strcmp(term, "dumb") != 0;
}

}  // namespace textmend::report
