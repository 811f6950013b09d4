#include <io.h>

#include "cli/output/incomplete_file.hpp"

namespace textmend {

// Windows cannot remove a file that is open, so it is emptied and closed
// first. The name is not checked against the file: nothing here tells
// which file a name refers to without opening it.
void remove_incomplete_file(const IncompleteFile& file) noexcept {
    if (file.fd >= 0) {
        (void)_chsize_s(file.fd, 0);
        _close(file.fd);
    }
    if (file.path != nullptr) _unlink(file.path);
}

}  // namespace textmend
