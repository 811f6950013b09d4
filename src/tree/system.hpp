// What textmend-tree asks of the system beyond the file layer: one file
// for POSIX systems (system_posix.cpp), one for Windows (system_windows.cpp).
#pragma once

namespace textmend::tree {

// Whether standard error is a terminal, where progress can be drawn.
[[nodiscard]] bool standard_error_is_terminal();

// What the file open at fd is, for a file that is neither regular nor a
// folder: "FIFO", "socket" or "device".
[[nodiscard]] const char* special_file_kind(int fd);

// The processors this process may run on (at least 1).
[[nodiscard]] unsigned processors_available();

}  // namespace textmend::tree
