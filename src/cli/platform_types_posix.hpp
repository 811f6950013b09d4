// The types of the file layer whose members are the system's own, for
// POSIX systems: files are found once and then worked on relative to the
// directory that holds them. platform_types_windows.hpp has the same types;
// the build names the one that applies (TEXTMEND_PLATFORM_TYPES).
#pragma once

#include <climits>

#include "cli/metadata/file_identity.hpp"

namespace textmend {

// Room for ".textmend-" and six random characters.
inline constexpr int TEMP_NAME_SIZE = 20;

// A file that a program found itself, walking a tree: the directory it
// holds open and the name in it.
struct FilePlace {
    int dir_fd = -1;
    const char* name = nullptr;
};

// A file this run is writing that must not outlive a failure.
struct IncompleteFile {
    int fd = -1;  // emptied first when open; -1 when closed already
    int dir_fd = -1;
    const char* name = nullptr;  // in dir_fd
    FileIdentity id{};           // the file this run wrote
};

// Where the output is: its directory and names in it.
struct OutputFilePlace {
    int dir_fd = -1;               // the directory of name
    bool dir_syncable = false;     // dir_fd can be flushed (it was opened for reading)
    char name[NAME_MAX + 1] = {};  // the file written, or the file replaced
    char temp_name[TEMP_NAME_SIZE] =
        {};  // in place: the temporary file's name; empty while unnamed
};

}  // namespace textmend
