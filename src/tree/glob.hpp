// Which entries of a tree --include and --exclude select.
//
// A pattern matches a name or a path the way the shell's patterns do: * any
// characters but '/', ? one of them, [abc], [a-z] and [!abc] one of a set, a
// backslash the character after it; and ** any characters, '/' included,
// where "**/" may also match nothing ("docs/**/*.txt" takes docs/a.txt).
// A pattern without '/' is matched against an entry's name, at any depth; one
// with '/' against its path below the PATH the walk started from (a leading
// '/' is dropped). A pattern that ends in "/**" also matches the folder
// itself, so that excluding "cache/**" leaves cache out altogether.
#pragma once

#include <string>
#include <vector>

namespace textmend::tree {

// Whether text matches pattern as a whole.
[[nodiscard]] bool glob_match(const char* pattern, const char* text);

class EntryFilter {
public:
    EntryFilter(std::vector<std::string> include, std::vector<std::string> exclude);

    // relative: the path below the walk's PATH ("sub/f.txt"); name: its last part.
    [[nodiscard]] bool excluded(const std::string& relative, const char* name) const;
    // A file is taken when it is not excluded and, where patterns to include
    // were given, matches one of them. Folders are entered unless excluded.
    [[nodiscard]] bool takes_file(const std::string& relative, const char* name) const;

private:
    std::vector<std::string> include_;
    std::vector<std::string> exclude_;
};

}  // namespace textmend::tree
