#include "report/files.hpp"

#include <cstring>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

namespace textmend::report {

int open_for_reading(const char* name) {
    if (std::strcmp(name, "-") == 0) {
        _setmode(0, _O_BINARY);
        return 0;
    }
    return _open(name, _O_RDONLY | _O_BINARY);
}

void close_input(int fd) {
    if (fd != 0) _close(fd);
}

std::int64_t regular_file_size(int fd) {
    struct _stat64 st {};
    if (_fstat64(fd, &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG) return -1;
    return static_cast<std::int64_t>(st.st_size);
}

std::FILE* open_spool() {
    return std::tmpfile();
}

bool stdout_is_a_colour_terminal() {
    return false;
}

}  // namespace textmend::report
