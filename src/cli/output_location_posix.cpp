#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/output_location.hpp"

namespace textmend {

namespace {

// As many links as the kernel follows in one lookup.
constexpr int MAX_LINKS = 40;

bool is_name(const char* name) {
    return *name != '\0' && std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0;
}

// Opens the directory part of path, relative to base, as loc's directory and
// takes its last part as loc's name. A directory that may be searched but
// not read is opened for lookups only (it cannot be flushed then).
bool enter_directory_of(int base, const char* path, OutputLocation& loc) {
    const char* slash = std::strrchr(path, '/');
    const char* name = slash != nullptr ? slash + 1 : path;
    const std::size_t name_length = std::strlen(name);
    if (!is_name(name)) {
        errno = EISDIR;
        return false;
    }
    if (name_length > NAME_MAX) {
        errno = ENAMETOOLONG;
        return false;
    }
    char dir[PATH_MAX];
    if (slash == nullptr) {
        std::strcpy(dir, ".");
    } else if (slash == path) {
        std::strcpy(dir, "/");
    } else {
        const auto length = static_cast<std::size_t>(slash - path);
        if (length >= sizeof dir) {
            errno = ENAMETOOLONG;
            return false;
        }
        std::memcpy(dir, path, length);
        dir[length] = '\0';
    }
    bool syncable = true;
    int fd = openat(base, dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 && errno == EACCES) {
        fd = openat(base, dir, O_PATH | O_DIRECTORY | O_CLOEXEC);
        syncable = false;
    }
    if (fd < 0) return false;
    close_output_location(loc);
    loc.dir_fd = fd;
    loc.dir_syncable = syncable;
    std::memcpy(loc.name, name, name_length + 1);
    return true;
}

enum class LinkCheck {
    not_a_link,  // a file, or anything else that is not a symbolic link
    followed,    // a link the caller owns: its text was read
    refused,     // errno tells why
};

// Reads the text of the symbolic link that the descriptor link (opened with
// O_PATH | O_NOFOLLOW) refers to, when the caller's effective user owns it.
// The link is read through that descriptor, so the link whose owner was
// checked is the link that is followed even if its name is swapped meanwhile.
LinkCheck read_owned_link(int link, int followed_so_far, char (&target)[PATH_MAX]) {
    struct stat st {};
    if (fstat(link, &st) != 0) return LinkCheck::refused;
    if (!S_ISLNK(st.st_mode)) return LinkCheck::not_a_link;
    if (st.st_uid != geteuid()) {
        errno = EACCES;
        return LinkCheck::refused;
    }
    if (followed_so_far >= MAX_LINKS) {
        errno = ELOOP;
        return LinkCheck::refused;
    }
    const ssize_t length = readlinkat(link, "", target, sizeof target - 1);
    if (length < 0) return LinkCheck::refused;
    target[length] = '\0';
    return LinkCheck::followed;
}

// Follows the symbolic links at loc's name that the caller owns, each
// relative to the directory it is in.
bool follow_owned_links(OutputLocation& loc) {
    for (int followed = 0;; ++followed) {
        const int link = openat(loc.dir_fd, loc.name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
        if (link < 0) return errno == ENOENT;  // a file to be created
        char target[PATH_MAX];
        const LinkCheck check = read_owned_link(link, followed, target);
        const int error = errno;
        close(link);
        if (check == LinkCheck::not_a_link) return true;
        if (check == LinkCheck::refused) {
            errno = error;
            return false;
        }
        if (!enter_directory_of(loc.dir_fd, target, loc)) return false;
    }
}

}  // namespace

bool find_output_location(const char* path, OutputLocation& loc) {
    if (*path == '\0') {
        errno = ENOENT;
        return false;
    }
    if (enter_directory_of(AT_FDCWD, path, loc) && follow_owned_links(loc)) return true;
    const int error = errno;
    close_output_location(loc);
    errno = error;
    return false;
}

void close_output_location(OutputLocation& loc) {
    if (loc.dir_fd >= 0) close(loc.dir_fd);
    loc.dir_fd = -1;
}

}  // namespace textmend
