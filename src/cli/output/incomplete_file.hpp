// A file this run is writing that must not outlive a failure: the output
// while it is incomplete, or the named temporary file of an in-place run.
#pragma once

#include "cli/metadata/file_identity.hpp"
#include TEXTMEND_PLATFORM_TYPES

namespace textmend {

// IncompleteFile is the system's own type (platform_types_posix.hpp,
// platform_types_windows.hpp).

// Empties the file, so that no other hard link keeps half a result, then
// removes its name, but only while the name still refers to that file:
// whatever another program put there meanwhile stays. Async-signal-safe.
void remove_incomplete_file(const IncompleteFile& file) noexcept;

}  // namespace textmend
