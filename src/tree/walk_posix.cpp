#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "cli/path_walk.hpp"
#include "tree/walk.hpp"

namespace textmend::tree {

struct OpenFolder {
    int fd;
    explicit OpenFolder(int descriptor) : fd(descriptor) {}
    ~OpenFolder() { close(fd); }
    OpenFolder(const OpenFolder&) = delete;
    OpenFolder& operator=(const OpenFolder&) = delete;
};

namespace {

struct FolderChild {
    std::string name;
    unsigned char type;  // DT_REG, DT_DIR, ...
};

}  // namespace

struct TreeWalk::Level {
    std::shared_ptr<const OpenFolder> folder;
    std::string shown;     // the folder as printed
    std::string relative;  // below the PATH: "" for the PATH itself
    dev_t device;          // of the PATH's file system
    std::vector<FolderChild> children;
    std::size_t next = 0;
};

namespace {

constexpr int FOLDER_FLAGS = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

bool ends_with(const std::string& name, const std::string& suffix) {
    return !suffix.empty() && name.size() > suffix.size() &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

unsigned char type_of(mode_t mode) {
    if (S_ISREG(mode)) return DT_REG;
    if (S_ISDIR(mode)) return DT_DIR;
    if (S_ISLNK(mode)) return DT_LNK;
    if (S_ISFIFO(mode)) return DT_FIFO;
    if (S_ISSOCK(mode)) return DT_SOCK;
    return DT_CHR;
}

// The entries of the folder fd, but ".", "..", version-control folders and
// backups, sorted by name. False with errno set when it cannot be read.
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
        const char* name = found->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0 ||
            is_version_control_name(name) || ends_with(name, rules.backup_suffix)) {
            continue;
        }
        unsigned char type = found->d_type;
        struct stat st {};
        if (type == DT_UNKNOWN) {
            type = fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0
                       ? type_of(st.st_mode)
                       : static_cast<unsigned char>(DT_REG);
        }
        children.push_back({name, type});
    }
    const int error = errno;
    closedir(dir);
    if (error != 0) {
        errno = error;
        return false;
    }
    std::sort(children.begin(), children.end(),
              [](const auto& a, const auto& b) { return a.name < b.name; });
    return true;
}

Entry skipped(std::string shown, const char* reason) {
    Entry entry;
    entry.kind = EntryKind::skipped;
    entry.shown = std::move(shown);
    entry.reason = reason;
    return entry;
}

Entry failed(std::string shown, int error) {
    Entry entry;
    entry.kind = EntryKind::failed;
    entry.shown = std::move(shown);
    entry.error = error;
    return entry;
}

const char* what_is_skipped(unsigned char type) {
    switch (type) {
        case DT_LNK:
            return "symbolic link";
        case DT_FIFO:
            return "FIFO";
        case DT_SOCK:
            return "socket";
        default:
            return "device";
    }
}

// The PATH as printed before the names below it: without trailing slashes.
std::string shown_root(const char* path) {
    std::string shown = path;
    while (shown.size() > 1 && shown.back() == '/')
        shown.pop_back();
    return shown;
}

std::string joined(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

}  // namespace

FilePlace Entry::place() const {
    return FilePlace{folder->fd, name.c_str()};
}

bool is_version_control_name(const char* name) {
    return std::strcmp(name, ".git") == 0 || std::strcmp(name, ".hg") == 0 ||
           std::strcmp(name, ".svn") == 0 || std::strcmp(name, ".bzr") == 0;
}

TreeWalk::TreeWalk(WalkRules rules) : rules_(std::move(rules)) {}
TreeWalk::~TreeWalk() = default;

void TreeWalk::start(const char* path) {
    levels_.clear();
    ready_.clear();
    const std::string shown = shown_root(path);
    const int found = walk_to_directory(path);
    if (found >= 0) {
        const int fd = openat(found, ".", FOLDER_FLAGS);
        const int error = errno;
        close(found);
        struct stat st {};
        auto level = std::make_unique<Level>();
        if (fd < 0) {
            ready_.push_back(failed(shown, error));
            return;
        }
        level->folder = std::make_shared<OpenFolder>(fd);
        level->shown = shown;
        if (fstat(fd, &st) != 0 || !list_folder(fd, rules_, level->children)) {
            ready_.push_back(failed(shown, errno));
            return;
        }
        level->device = st.st_dev;
        levels_.push_back(std::move(level));
        return;
    }
    if (errno != ENOTDIR) {
        ready_.push_back(failed(shown, errno));
        return;
    }
    // A file: its folder, opened for reading too, so that an in-place
    // conversion can flush it.
    WalkedPath walked;
    if (!walk_path(path, ProcLink::by_text, walked)) {
        ready_.push_back(failed(shown, errno));
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

// Opens the folder name of parent and starts walking it; or an entry that
// says why not (false).
bool TreeWalk::enter(Level& parent, const std::string& name, Entry& entry) {
    const std::string shown = joined(parent.shown, name);
    const int fd = openat(parent.folder->fd, name.c_str(), FOLDER_FLAGS | O_NOFOLLOW);
    if (fd < 0) {
        // Swapped for a link or a file since the folder was read.
        if (errno == ELOOP)
            entry = skipped(shown, "symbolic link");
        else if (errno == ENOTDIR)
            entry = skipped(shown, "no longer a folder");
        else
            entry = failed(shown, errno);
        return false;
    }
    auto level = std::make_unique<Level>();
    level->folder = std::make_shared<OpenFolder>(fd);
    level->shown = shown;
    level->relative = joined(parent.relative, name);
    level->device = parent.device;
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        entry = failed(shown, errno);
        return false;
    }
    if (rules_.one_file_system && st.st_dev != parent.device) {
        entry = skipped(shown, "on another file system");
        return false;
    }
    if (!list_folder(fd, rules_, level->children)) {
        entry = failed(shown, errno);
        return false;
    }
    levels_.push_back(std::move(level));
    return true;
}

bool TreeWalk::next(Entry& entry) {
    if (!ready_.empty()) {
        entry = std::move(ready_.front());
        ready_.erase(ready_.begin());
        return true;
    }
    while (!levels_.empty()) {
        Level& level = *levels_.back();
        if (level.next == level.children.size()) {
            levels_.pop_back();
            continue;
        }
        const FolderChild& child = level.children[level.next++];
        const std::string relative = joined(level.relative, child.name);
        if (child.type == DT_DIR) {
            if (rules_.filter->excluded(relative, child.name.c_str())) continue;
            if (!enter(level, child.name, entry)) return true;
            continue;
        }
        if (!rules_.filter->takes_file(relative, child.name.c_str())) continue;
        if (child.type != DT_REG) {
            entry = skipped(joined(level.shown, child.name), what_is_skipped(child.type));
            return true;
        }
        entry = Entry{};
        entry.shown = joined(level.shown, child.name);
        entry.folder = level.folder;
        entry.name = child.name;
        return true;
    }
    return false;
}

}  // namespace textmend::tree
