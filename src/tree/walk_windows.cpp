// The walk on Windows: by paths, with FindFirstFileEx. A reparse point (a
// symbolic link or a junction) is reported as a link and never entered or
// converted.
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tree/walk.hpp"

namespace textmend::tree {

struct OpenFolder {
    std::string path;
};

namespace {

struct FolderChild {
    std::string name;
    DWORD attributes;
};

int errno_of(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return EACCES;
        case ERROR_NOT_ENOUGH_MEMORY:
            return ENOMEM;
        default:
            return EIO;
    }
}

// The volume a folder is on, for --one-file-system; 0 when it cannot be had.
DWORD volume_of(const std::string& folder) {
    const HANDLE handle = CreateFileA(folder.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return 0;
    BY_HANDLE_FILE_INFORMATION info{};
    const DWORD volume = GetFileInformationByHandle(handle, &info) ? info.dwVolumeSerialNumber : 0;
    CloseHandle(handle);
    return volume;
}

std::string joined(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    const char last = folder.back();
    return last == '\\' || last == '/' ? folder + name : folder + "\\" + name;
}

bool ends_with(const std::string& name, const std::string& suffix) {
    return !suffix.empty() && name.size() > suffix.size() &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The entries of the folder, but ".", "..", version-control folders and
// backups, sorted by name; false with errno set when it cannot be read.
bool list_folder(const std::string& folder, const WalkRules& rules,
                 std::vector<FolderChild>& children) {
    WIN32_FIND_DATAA found{};
    const HANDLE search = FindFirstFileExA(joined(folder, "*").c_str(), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) return true;
        errno = errno_of(error);
        return false;
    }
    do {
        const char* name = found.cFileName;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0 ||
            is_version_control_name(name) || ends_with(name, rules.backup_suffix)) {
            continue;
        }
        children.push_back({name, found.dwFileAttributes});
    } while (FindNextFileA(search, &found));
    const DWORD error = GetLastError();
    FindClose(search);
    if (error != ERROR_NO_MORE_FILES) {
        errno = errno_of(error);
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

bool is_link(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace

struct TreeWalk::Level {
    std::shared_ptr<const OpenFolder> folder;
    std::string shown;
    std::string relative;
    DWORD volume = 0;
    std::vector<FolderChild> children;
    std::size_t next = 0;
};

FilePlace Entry::place() const {
    return FilePlace{name.c_str()};
}

bool is_version_control_name(const char* name) {
    return _stricmp(name, ".git") == 0 || _stricmp(name, ".hg") == 0 ||
           _stricmp(name, ".svn") == 0 || _stricmp(name, ".bzr") == 0;
}

TreeWalk::TreeWalk(WalkRules rules) : rules_(std::move(rules)) {}
TreeWalk::~TreeWalk() = default;

void TreeWalk::start(const char* path) {
    levels_.clear();
    ready_.clear();
    std::string shown = path;
    while (shown.size() > 1 && (shown.back() == '\\' || shown.back() == '/') &&
           shown[shown.size() - 2] != ':') {
        shown.pop_back();
    }
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        ready_.push_back(failed(shown, errno_of(GetLastError())));
        return;
    }
    if (is_link(attributes)) {
        ready_.push_back(skipped(shown, "symbolic link"));
        return;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        const char* name = std::strrchr(path, '\\');
        const char* slash = std::strrchr(path, '/');
        if (name == nullptr || (slash != nullptr && slash > name)) name = slash;
        name = name != nullptr ? name + 1 : path;
        if (!rules_.filter->takes_file(name, name)) return;
        Entry entry;
        entry.shown = shown;
        entry.folder = std::make_shared<OpenFolder>(OpenFolder{""});
        entry.name = path;
        ready_.push_back(std::move(entry));
        return;
    }
    auto level = std::make_unique<Level>();
    level->folder = std::make_shared<OpenFolder>(OpenFolder{shown});
    level->shown = shown;
    level->volume = volume_of(shown);
    if (!list_folder(shown, rules_, level->children)) {
        ready_.push_back(failed(shown, errno));
        return;
    }
    levels_.push_back(std::move(level));
}

bool TreeWalk::enter(Level& parent, const std::string& name, Entry& entry) {
    const std::string path = joined(parent.folder->path, name);
    auto level = std::make_unique<Level>();
    level->folder = std::make_shared<OpenFolder>(OpenFolder{path});
    level->shown = joined(parent.shown, name);
    level->relative = parent.relative.empty() ? name : parent.relative + "/" + name;
    level->volume = volume_of(path);
    if (rules_.one_file_system && level->volume != parent.volume) {
        entry = skipped(level->shown, "on another file system");
        return false;
    }
    if (!list_folder(path, rules_, level->children)) {
        entry = failed(level->shown, errno);
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
        const std::string relative =
            level.relative.empty() ? child.name : level.relative + "/" + child.name;
        const bool folder = (child.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (folder && !is_link(child.attributes)) {
            if (rules_.filter->excluded(relative, child.name.c_str())) continue;
            if (!enter(level, child.name, entry)) return true;
            continue;
        }
        if (!rules_.filter->takes_file(relative, child.name.c_str())) continue;
        if (is_link(child.attributes)) {
            entry = skipped(joined(level.shown, child.name), "symbolic link");
            return true;
        }
        entry = Entry{};
        entry.shown = joined(level.shown, child.name);
        entry.folder = level.folder;
        entry.name = joined(level.folder->path, child.name);
        return true;
    }
    return false;
}

}  // namespace textmend::tree
