// Where an output goes on a POSIX system: a name in an open directory, found
// once, so that everything after works relative to that directory and a
// directory renamed or a path swapped meanwhile cannot redirect it.
#pragma once

#include <climits>

namespace textmend {

struct OutputLocation {
    int dir_fd = -1;
    bool dir_syncable = false;  // dir_fd was opened for reading, so it can be flushed
    char name[NAME_MAX + 1] = {};
};

// Finds where path leads, walking it part by part (see path_walk.hpp): a
// symbolic link anywhere in it is followed only when the caller's effective
// user or root owns it, so a link another user planted is not followed. The
// name found is not a link and may not exist yet. False with errno set when
// the location cannot be reached or a link is refused (EACCES); loc holds no
// open directory then.
[[nodiscard]] bool find_output_location(const char* path, OutputLocation& loc);

void close_output_location(OutputLocation& loc);

}  // namespace textmend
