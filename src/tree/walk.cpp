// The walk's part that both platforms share: the order of the entries and
// the rules for what is visited.
#include <algorithm>
#include <cstring>

#include "tree/walk_parts.hpp"

namespace textmend::tree {

namespace {

bool ends_with(const char* name, const std::string& suffix) {
    const std::size_t n = std::strlen(name);
    return !suffix.empty() && n > suffix.size() &&
           std::strcmp(name + n - suffix.size(), suffix.c_str()) == 0;
}

const char* what_is_skipped(ChildKind kind) {
    switch (kind) {
        case ChildKind::link:
            return "symbolic link";
        case ChildKind::fifo:
            return "FIFO";
        case ChildKind::socket:
            return "socket";
        default:
            return "device";
    }
}

}  // namespace

Entry skipped_entry(std::string shown, const char* reason) {
    Entry entry;
    entry.kind = EntryKind::skipped;
    entry.shown = std::move(shown);
    entry.reason = reason;
    return entry;
}

Entry failed_entry(std::string shown, int error) {
    Entry entry;
    entry.kind = EntryKind::failed;
    entry.shown = std::move(shown);
    entry.error = error;
    return entry;
}

bool left_out_of_listing(const char* name, const std::string& backup_suffix) {
    return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0 ||
           is_version_control_name(name) || ends_with(name, backup_suffix);
}

void sort_children(std::vector<FolderChild>& children) {
    std::sort(children.begin(), children.end(),
              [](const FolderChild& a, const FolderChild& b) { return a.name < b.name; });
}

std::string joined(const std::string& folder, const std::string& name, char separator) {
    if (folder.empty()) return name;
    const char last = folder.back();
    return last == '/' || last == separator ? folder + name : folder + separator + name;
}

TreeWalk::TreeWalk(WalkRules rules) : rules_(std::move(rules)) {}
TreeWalk::~TreeWalk() = default;

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
        const std::string relative = joined(level.relative, child.name, '/');
        if (child.kind == ChildKind::folder) {
            if (rules_.filter->excluded(relative, child.name.c_str())) continue;
            if (!enter(level, child, entry)) return true;
            continue;
        }
        if (!rules_.filter->takes_file(relative, child.name.c_str())) continue;
        if (child.kind != ChildKind::file) {
            entry = skipped_entry(joined(level.shown, child.name), what_is_skipped(child.kind));
            return true;
        }
        entry = Entry{};
        entry.shown = joined(level.shown, child.name);
        entry.folder = level.folder;
        entry.name = place_name(level, child);
        return true;
    }
    return false;
}

}  // namespace textmend::tree
