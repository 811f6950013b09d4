// A file this run is writing that must not outlive a failure: the output
// while it is incomplete, or the named temporary file of an in-place run.
#pragma once

#include "cli/file_identity.hpp"

namespace textmend {

#ifdef _WIN32
struct IncompleteFile {
    int fd = -1;  // closed (after being emptied) before the name is removed
    const char* path = nullptr;
};
#else
struct IncompleteFile {
    int fd = -1;  // emptied first when open; -1 when closed already
    int dir_fd = -1;
    const char* name = nullptr;  // in dir_fd
    FileIdentity id{};           // the file this run wrote
};
#endif

// Empties the file, so that no other hard link keeps half a result, then
// removes its name, but only while the name still refers to that file:
// whatever another program put there meanwhile stays. Async-signal-safe.
void remove_incomplete_file(const IncompleteFile& file) noexcept;

}  // namespace textmend
