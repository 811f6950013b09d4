// Walking the trees under the PATHs given, in a stable order (each folder's
// entries sorted by name, folders entered where they stand), one entry at a
// time: the files to look at, and what is left alone and why.
//
// On POSIX systems the walk works from directory descriptors only: each
// folder is opened relative to the one that holds it, without following a
// symbolic link, and each file is later opened relative to the descriptor
// of its folder, which the entry keeps open. A folder that another user
// swaps for a link while the walk goes on cannot lead it outside the tree.
// On Windows it walks by paths and enters no reparse point (a symbolic link
// or a junction).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cli/file_layer.hpp"
#include "tree/glob.hpp"

namespace textmend::tree {

enum class EntryKind {
    file,     // a regular file to look at
    skipped,  // left alone by rule; reason says what it is
    failed,   // could not be looked at; error says why
};

// An open folder, closed when the last entry that needs it is done.
struct OpenFolder;

struct Entry {
    EntryKind kind = EntryKind::file;
    std::string shown;        // the path as printed: PATH, or PATH/below
    const char* reason = "";  // skipped: "symbolic link", "FIFO", ...
    int error = 0;            // failed: an errno value
    std::shared_ptr<const OpenFolder> folder;
    std::string name;  // in the folder
    // Where the file layer finds the file; valid while the entry lives.
    [[nodiscard]] FilePlace place() const;
};

// One entry of a folder as it was read, before it is looked at.
enum class ChildKind { file, folder, link, fifo, socket, device };
struct FolderChild {
    std::string name;
    ChildKind kind;
};

struct WalkRules {
    const EntryFilter* filter = nullptr;
    std::string backup_suffix;  // names that end in it are never visited
    bool one_file_system = false;
};

class TreeWalk {
public:
    explicit TreeWalk(WalkRules rules);
    ~TreeWalk();
    TreeWalk(const TreeWalk&) = delete;
    TreeWalk& operator=(const TreeWalk&) = delete;

    // Starts on a PATH from the command line. A PATH that is a symbolic link
    // is followed when the caller or root owns it, as the file layer does.
    void start(const char* path);

    // The next entry of the PATH started, in walk order; false at its end.
    [[nodiscard]] bool next(Entry& entry);

private:
    struct Level;
    // Starts walking the folder child of parent; or an entry that says why
    // not (false).
    [[nodiscard]] bool enter(Level& parent, const FolderChild& child, Entry& entry);
    // What Entry::name holds for the file child of level.
    [[nodiscard]] static std::string place_name(const Level& level, const FolderChild& child);
    WalkRules rules_;
    std::vector<std::unique_ptr<Level>> levels_;  // the folders being walked, outermost first
    std::vector<Entry> ready_;                    // entries found before any folder was entered
};

// Names of version-control folders, which the walk never enters.
[[nodiscard]] bool is_version_control_name(const char* name);

}  // namespace textmend::tree
