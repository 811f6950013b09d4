#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/file_layer.hpp"
#include "tree/walk_parts.hpp"

namespace textmend::tree {

const char SEPARATOR = '/';

struct OpenFolder {
    int fd;
    explicit OpenFolder(int descriptor) : fd(descriptor) {}
    ~OpenFolder() { close(fd); }
    OpenFolder(const OpenFolder&) = delete;
    OpenFolder& operator=(const OpenFolder&) = delete;
};

namespace {

constexpr int FOLDER_FLAGS = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

ChildKind kind_of_mode(mode_t mode) {
    if (S_ISREG(mode)) return ChildKind::file;
    if (S_ISDIR(mode)) return ChildKind::folder;
    if (S_ISLNK(mode)) return ChildKind::link;
    if (S_ISFIFO(mode)) return ChildKind::fifo;
    if (S_ISSOCK(mode)) return ChildKind::socket;
    return ChildKind::device;
}

// The kind of the entry as the folder's listing tells it; where it does not
// (some file systems), as the entry's status tells it.
ChildKind kind_of(const dirent& found, int fd) {
    switch (found.d_type) {
        case DT_REG:
            return ChildKind::file;
        case DT_DIR:
            return ChildKind::folder;
        case DT_LNK:
            return ChildKind::link;
        case DT_FIFO:
            return ChildKind::fifo;
        case DT_SOCK:
            return ChildKind::socket;
        case DT_UNKNOWN:
            break;
        default:
            return ChildKind::device;
    }
    struct stat st {};
    return fstatat(fd, found.d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 ? kind_of_mode(st.st_mode)
                                                                    : ChildKind::file;
}

// The entries of the folder fd, sorted by name. False with errno set when
// it cannot be read.
bool list_folder(int fd, const WalkRules& rules, std::vector<FolderChild>& children) {
    const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) return false;
    DIR* dir = fdopendir(copy);
    if (dir == nullptr) {
        const int error = errno;
        close(copy);
        errno = error;
        return false;
    }
    for (;;) {
        errno = 0;
        const dirent* found = readdir(dir);
        if (found == nullptr) break;
        if (left_out_of_listing(found->d_name, rules.backup_suffix)) continue;
        children.push_back({found->d_name, kind_of(*found, fd)});
    }
    const int error = errno;
    closedir(dir);
    if (error != 0) {
        errno = error;
        return false;
    }
    sort_children(children);
    return true;
}

// The PATH as printed before the names below it: without trailing slashes.
std::string shown_root(const char* path) {
    std::string shown = path;
    while (shown.size() > 1 && shown.back() == '/')
        shown.pop_back();
    return shown;
}

}  // namespace

FilePlace Entry::place() const {
    return FilePlace{folder->fd, name.c_str()};
}

bool is_version_control_name(const char* name) {
    return std::strcmp(name, ".git") == 0 || std::strcmp(name, ".hg") == 0 ||
           std::strcmp(name, ".svn") == 0 || std::strcmp(name, ".bzr") == 0;
}

std::string TreeWalk::place_name(const Level&, const FolderChild& child) {
    return child.name;
}

void TreeWalk::start(const char* path) {
    levels_.clear();
    ready_.clear();
    const std::string shown = shown_root(path);
    const int found = walk_to_directory(path);
    if (found >= 0) {
        const int fd = openat(found, ".", FOLDER_FLAGS);
        const int error = errno;
        close(found);
        if (fd < 0) {
            ready_.push_back(failed_entry(shown, error));
            return;
        }
        auto level = std::make_unique<Level>();
        level->folder = std::make_shared<OpenFolder>(fd);
        level->shown = shown;
        struct stat st {};
        if (fstat(fd, &st) != 0 || !list_folder(fd, rules_, level->children)) {
            ready_.push_back(failed_entry(shown, errno));
            return;
        }
        level->device = static_cast<std::uint64_t>(st.st_dev);
        levels_.push_back(std::move(level));
        return;
    }
    if (errno != ENOTDIR) {
        ready_.push_back(failed_entry(shown, errno));
        return;
    }
    // A file: its folder, opened for reading too, so that an in-place
    // conversion can flush it.
    WalkedPath walked;
    if (!walk_path(path, ProcLink::by_text, walked)) {
        ready_.push_back(failed_entry(shown, errno));
        return;
    }
    int fd = openat(walked.dir_fd, ".", FOLDER_FLAGS);
    if (fd < 0) {
        fd = walked.dir_fd;
        walked.dir_fd = -1;
    }
    close_walked_path(walked);
    if (!rules_.filter->takes_file(walked.name, walked.name)) {
        close(fd);
        return;
    }
    Entry entry;
    entry.shown = shown;
    entry.folder = std::make_shared<OpenFolder>(fd);
    entry.name = walked.name;
    ready_.push_back(std::move(entry));
}

bool TreeWalk::enter(Level& parent, const FolderChild& child, Entry& entry) {
    const std::string shown = joined(parent.shown, child.name);
    const int fd = openat(parent.folder->fd, child.name.c_str(), FOLDER_FLAGS | O_NOFOLLOW);
    if (fd < 0) {
        // Swapped for a link or a file since the folder was read.
        if (errno == ELOOP) {
            entry = skipped_entry(shown, "symbolic link");
        } else if (errno == ENOTDIR) {
            entry = skipped_entry(shown, "no longer a folder");
        } else {
            entry = failed_entry(shown, errno);
        }
        return false;
    }
    auto level = std::make_unique<Level>();
    level->folder = std::make_shared<OpenFolder>(fd);
    level->shown = shown;
    level->relative = joined(parent.relative, child.name, '/');
    level->device = parent.device;
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        entry = failed_entry(shown, errno);
        return false;
    }
    if (rules_.one_file_system && static_cast<std::uint64_t>(st.st_dev) != parent.device) {
        entry = skipped_entry(shown, "on another file system");
        return false;
    }
    if (!list_folder(fd, rules_, level->children)) {
        entry = failed_entry(shown, errno);
        return false;
    }
    levels_.push_back(std::move(level));
    return true;
}

}  // namespace textmend::tree
