#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/output/incomplete_file.hpp"

namespace textmend {

namespace {

bool is_file(const struct stat& st, const FileIdentity& id) {
    return static_cast<std::uint64_t>(st.st_dev) == id.device &&
           static_cast<std::uint64_t>(st.st_ino) == id.inode;
}

// Empties the file behind fd. A failure leaves nothing else to try: the
// name is removed all the same.
void truncate_to_empty(int fd) noexcept {
    if (ftruncate(fd, 0) != 0) return;
}

// Empties the file: through fd when it is open, else through its name when
// that still refers to it.
void empty_file(const IncompleteFile& file) noexcept {
    if (file.fd >= 0) {
        truncate_to_empty(file.fd);
        return;
    }
    const int fd =
        openat(file.dir_fd, file.name, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && is_file(st, file.id)) truncate_to_empty(fd);
    close(fd);
}

}  // namespace

// Only calls that are async-signal-safe: a signal handler runs this.
void remove_incomplete_file(const IncompleteFile& file) noexcept {
    if (file.name == nullptr) return;
    empty_file(file);
    struct stat st {};
    if (fstatat(file.dir_fd, file.name, &st, AT_SYMLINK_NOFOLLOW) == 0 && is_file(st, file.id)) {
        unlinkat(file.dir_fd, file.name, 0);
    }
}

}  // namespace textmend
