#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "cli/descriptors/path_walk.hpp"

namespace textmend {

static_assert(NAME_MAX + 1 <= WALKED_NAME_SIZE, "a name of one part must fit");

namespace {

// As many links as the kernel follows in one lookup.
constexpr int MAX_LINKS = 40;

// The rest of the path still to walk, and where the walk stands in it.
struct Walk {
    char text[PATH_MAX] = {};
    std::size_t at = 0;
    int dir = -1;  // the directory reached so far
    int links = 0;
    bool to_directory = false;  // the last part too must be a directory
};

int open_directory_at(int base, const char* name, int follow) {
    return openat(base, name, O_PATH | O_DIRECTORY | O_CLOEXEC | follow);
}

void skip_slashes(Walk& walk) {
    while (walk.text[walk.at] == '/')
        ++walk.at;
}

// Takes the next part of the path into part and moves past it and the
// slashes after it. last: nothing follows it (not even a slash).
bool take_part(Walk& walk, char (&part)[NAME_MAX + 1], bool& last) {
    const char* start = walk.text + walk.at;
    const char* end = std::strchr(start, '/');
    const std::size_t length =
        end != nullptr ? static_cast<std::size_t>(end - start) : std::strlen(start);
    if (length > NAME_MAX) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(part, start, length);
    part[length] = '\0';
    walk.at += length;
    last = walk.text[walk.at] == '\0';
    skip_slashes(walk);
    return true;
}

// Puts a link's target in front of what is left of the path.
bool continue_with(Walk& walk, const char* target) {
    const char* rest = walk.text + walk.at;
    const std::size_t target_length = std::strlen(target);
    const std::size_t rest_length = std::strlen(rest);
    if (target_length + 1 + rest_length >= sizeof walk.text) {
        errno = ENAMETOOLONG;
        return false;
    }
    char joined[PATH_MAX];
    std::memcpy(joined, target, target_length);
    std::size_t n = target_length;
    if (rest_length > 0) {
        joined[n++] = '/';
        std::memcpy(joined + n, rest, rest_length);
        n += rest_length;
    }
    joined[n] = '\0';
    std::memcpy(walk.text, joined, n + 1);
    walk.at = 0;
    if (walk.text[0] == '/') {
        const int root = open_directory_at(AT_FDCWD, "/", 0);
        if (root < 0) return false;
        close(walk.dir);
        walk.dir = root;
    }
    skip_slashes(walk);
    return true;
}

bool on_proc(int dir) {
    struct statfs fs {};
    return fstatfs(dir, &fs) == 0 && fs.f_type == PROC_SUPER_MAGIC;
}

// Checks the link that link (opened with O_PATH | O_NOFOLLOW) refers to and
// counts it. The link is judged through that descriptor, so the link whose
// owner was checked is the one followed even if its name is swapped.
bool may_follow(Walk& walk, const struct stat& link) {
    if (!is_trusted_link_owner(link.st_uid)) {
        errno = EACCES;
        return false;
    }
    if (++walk.links > MAX_LINKS) {
        errno = ELOOP;
        return false;
    }
    return true;
}

bool follow_by_text(Walk& walk, int link) {
    char target[PATH_MAX];
    const ssize_t length = readlinkat(link, "", target, sizeof target - 1);
    if (length < 0) return false;
    if (length == 0) {
        errno = ENOENT;
        return false;
    }
    target[length] = '\0';
    return continue_with(walk, target);
}

enum class Step { go_on, arrived, failed };

// The path's last part, named part in walk.dir, is not a directory.
Step arrive(Walk& walk, const char* part, bool kernel_link, WalkedPath& out) {
    out.dir_fd = walk.dir;
    walk.dir = -1;
    std::strcpy(out.name, part);
    out.kernel_link = kernel_link;
    return Step::arrived;
}

// A link of /proc in the middle of the path (/proc/self): followed by the
// kernel, as its text may name nothing a path can reach.
Step enter_by_the_kernel(Walk& walk, const char* part) {
    const int dir = open_directory_at(walk.dir, part, 0);
    if (dir < 0) return Step::failed;
    close(walk.dir);
    walk.dir = dir;
    return Step::go_on;
}

// The part named part in walk.dir is the symbolic link link (opened with
// O_PATH | O_NOFOLLOW, st its status).
Step through_link(Walk& walk, int link, const struct stat& st, const char* part, bool last,
                  ProcLink proc_link, WalkedPath& out) {
    if (!may_follow(walk, st)) return Step::failed;
    if (on_proc(walk.dir)) {
        if (last && proc_link == ProcLink::by_the_kernel) return arrive(walk, part, true, out);
        if (!last) return enter_by_the_kernel(walk, part);
    }
    return follow_by_text(walk, link) ? Step::go_on : Step::failed;
}

// One part of the path, opened in walk.dir.
Step step(Walk& walk, const char* part, bool last, ProcLink proc_link, WalkedPath& out) {
    if (std::strcmp(part, ".") == 0) {
        if (!last || walk.to_directory) return Step::go_on;
        errno = EISDIR;
        return Step::failed;
    }
    const int next = openat(walk.dir, part, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) {
        // A last part that does not exist is a file still to be made.
        if (last && errno == ENOENT && !walk.to_directory) return arrive(walk, part, false, out);
        return Step::failed;
    }
    struct stat st {};
    Step result = Step::failed;
    if (fstat(next, &st) != 0) {
        result = Step::failed;
    } else if (S_ISLNK(st.st_mode)) {
        result = through_link(walk, next, st, part, last, proc_link, out);
    } else if (S_ISDIR(st.st_mode)) {
        if (!last || walk.to_directory) {
            close(walk.dir);
            walk.dir = next;
            return Step::go_on;
        }
        errno = EISDIR;
    } else if (last && !walk.to_directory) {
        result = arrive(walk, part, false, out);
    } else {
        errno = ENOTDIR;
    }
    const int error = errno;
    close(next);
    errno = error;
    return result;
}

Step walk_on(Walk& walk, ProcLink proc_link, WalkedPath& out) {
    if (walk.text[walk.at] == '\0') {
        // The path ends in a directory ("/", "dir/").
        if (walk.to_directory) return arrive(walk, ".", false, out);
        errno = EISDIR;
        return Step::failed;
    }
    char part[NAME_MAX + 1];
    bool last = false;
    if (!take_part(walk, part, last)) return Step::failed;
    return step(walk, part, last, proc_link, out);
}

}  // namespace

bool is_trusted_link_owner(unsigned owner) noexcept {
    return owner == geteuid() || owner == 0;
}

namespace {

bool walk_from_start(const char* path, ProcLink proc_link, bool to_directory, WalkedPath& out) {
    if (*path == '\0') {
        errno = ENOENT;
        return false;
    }
    Walk walk;
    walk.to_directory = to_directory;
    if (std::strlen(path) >= sizeof walk.text) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::strcpy(walk.text, path);
    walk.dir = open_directory_at(AT_FDCWD, path[0] == '/' ? "/" : ".", 0);
    if (walk.dir < 0) return false;
    skip_slashes(walk);
    for (;;) {
        switch (walk_on(walk, proc_link, out)) {
            case Step::go_on:
                continue;
            case Step::arrived:
                return true;
            case Step::failed: {
                const int error = errno;
                close(walk.dir);
                errno = error;
                return false;
            }
        }
    }
}

}  // namespace

bool walk_path(const char* path, ProcLink proc_link, WalkedPath& out) {
    return walk_from_start(path, proc_link, false, out);
}

int walk_to_directory(const char* path) {
    WalkedPath walked;
    if (!walk_from_start(path, ProcLink::by_text, true, walked)) return -1;
    return walked.dir_fd;
}

void close_walked_path(WalkedPath& path) {
    if (path.dir_fd >= 0) close(path.dir_fd);
    path.dir_fd = -1;
}

}  // namespace textmend
