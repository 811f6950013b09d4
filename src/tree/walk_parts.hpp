// What the walk's platform parts (walk_posix.cpp, walk_windows.cpp) and its
// common part (walk.cpp) share.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tree/walk.hpp"

namespace textmend::tree {

// A folder being walked.
struct TreeWalk::Level {
    std::shared_ptr<const OpenFolder> folder;
    std::string shown;                  // the folder as printed
    std::string relative;               // below the PATH: "" for the PATH itself
    std::uint64_t device = 0;           // of the PATH's file system (or volume)
    std::vector<FolderChild> children;  // sorted by name
    std::size_t next = 0;
};

[[nodiscard]] Entry skipped_entry(std::string shown, const char* reason);
[[nodiscard]] Entry failed_entry(std::string shown, int error);

// Whether the name is one a folder's listing leaves out: ".", "..",
// version-control folders, and backups (names ending in backup_suffix).
[[nodiscard]] bool left_out_of_listing(const char* name, const std::string& backup_suffix);

// Sorts a folder's children by name, bytes compared as unsigned.
void sort_children(std::vector<FolderChild>& children);

// Between the parts of a path as the walk prints it: '/', or '\\' on
// Windows (defined in walk_posix.cpp and walk_windows.cpp).
extern const char SEPARATOR;

// folder/name (with separator), or name alone below an empty folder.
[[nodiscard]] std::string joined(const std::string& folder, const std::string& name,
                                 char separator = SEPARATOR);

}  // namespace textmend::tree
