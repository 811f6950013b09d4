#include <io.h>

#include <thread>

#include "tree/system.hpp"

namespace textmend::tree {

bool standard_error_is_terminal() {
    return _isatty(2) != 0;
}

const char* special_file_kind(int fd) {
    (void)fd;
    return "device";
}

unsigned processors_available() {
    const unsigned n = std::thread::hardware_concurrency();
    return n > 0 ? n : 1;
}

}  // namespace textmend::tree
