// The types of the file layer whose members are the system's own, for
// Windows: files are known by their paths. platform_types_posix.hpp has the
// same types; the build names the one that applies (TEXTMEND_PLATFORM_TYPES).
#pragma once

namespace textmend {

// Room for ".textmend-" and six random characters.
inline constexpr int TEMP_NAME_SIZE = 20;

inline constexpr int OUTPUT_PATH_MAX = 260 * 4;

// A file that a program found itself, walking a tree: its path.
struct FilePlace {
    const char* path = nullptr;
};

// A file this run is writing that must not outlive a failure.
struct IncompleteFile {
    int fd = -1;  // closed (after being emptied) before the name is removed
    const char* path = nullptr;
};

// Where the output is: its paths.
struct OutputFilePlace {
    char path[OUTPUT_PATH_MAX] = {};       // the file written, or the file replaced
    char temp_path[OUTPUT_PATH_MAX] = {};  // in place: the temporary file
};

}  // namespace textmend
