// The walk on Windows: by paths, with FindFirstFileEx. A reparse point (a
// symbolic link or a junction) is reported as a link and never entered or
// converted.
#include <windows.h>

#include <cerrno>
#include <cstring>

#include "tree/walk_parts.hpp"

namespace textmend::tree {

const char SEPARATOR = '\\';

struct OpenFolder {
    std::string path;
};

namespace {

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
std::uint64_t volume_of(const std::string& folder) {
    const HANDLE handle = CreateFileA(folder.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return 0;
    BY_HANDLE_FILE_INFORMATION info{};
    const DWORD volume = GetFileInformationByHandle(handle, &info) ? info.dwVolumeSerialNumber : 0;
    CloseHandle(handle);
    return volume;
}

bool is_link(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

ChildKind kind_of(DWORD attributes) {
    if (is_link(attributes)) return ChildKind::link;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? ChildKind::folder : ChildKind::file;
}

// The entries of the folder, sorted by name; false with errno set when it
// cannot be read.
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
        if (left_out_of_listing(found.cFileName, rules.backup_suffix)) continue;
        children.push_back({found.cFileName, kind_of(found.dwFileAttributes)});
    } while (FindNextFileA(search, &found));
    const DWORD error = GetLastError();
    FindClose(search);
    if (error != ERROR_NO_MORE_FILES) {
        errno = errno_of(error);
        return false;
    }
    sort_children(children);
    return true;
}

bool is_separator(char c) {
    return c == '\\' || c == '/';
}

}  // namespace

FilePlace Entry::place() const {
    return FilePlace{name.c_str()};
}

bool is_version_control_name(const char* name) {
    return _stricmp(name, ".git") == 0 || _stricmp(name, ".hg") == 0 ||
           _stricmp(name, ".svn") == 0 || _stricmp(name, ".bzr") == 0;
}

std::string TreeWalk::place_name(const Level& level, const FolderChild& child) {
    return joined(level.folder->path, child.name);
}

void TreeWalk::start(const char* path) {
    levels_.clear();
    ready_.clear();
    std::string shown = path;
    while (shown.size() > 1 && is_separator(shown.back()) && shown[shown.size() - 2] != ':')
        shown.pop_back();
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        ready_.push_back(failed_entry(shown, errno_of(GetLastError())));
        return;
    }
    if (is_link(attributes)) {
        ready_.push_back(skipped_entry(shown, "symbolic link"));
        return;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        const char* name = path;
        for (const char* p = path; *p != '\0'; ++p) {
            if (is_separator(*p)) name = p + 1;
        }
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
    level->device = volume_of(shown);
    if (!list_folder(shown, rules_, level->children)) {
        ready_.push_back(failed_entry(shown, errno));
        return;
    }
    levels_.push_back(std::move(level));
}

bool TreeWalk::enter(Level& parent, const FolderChild& child, Entry& entry) {
    const std::string path = joined(parent.folder->path, child.name);
    auto level = std::make_unique<Level>();
    level->folder = std::make_shared<OpenFolder>(OpenFolder{path});
    level->shown = joined(parent.shown, child.name);
    level->relative = joined(parent.relative, child.name, '/');
    level->device = volume_of(path);
    if (rules_.one_file_system && level->device != parent.device) {
        entry = skipped_entry(level->shown, "on another file system");
        return false;
    }
    if (!list_folder(path, rules_, level->children)) {
        entry = failed_entry(level->shown, errno);
        return false;
    }
    levels_.push_back(std::move(level));
    return true;
}

}  // namespace textmend::tree
