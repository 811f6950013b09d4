// What textmend-report asks of the system: its inputs (a named file, or
// standard input for "-"), a temporary file for examples, and whether its
// output is a terminal that shows colours. POSIX and Windows each have a
// file of their own.
#pragma once

#include <cstdint>
#include <cstdio>

namespace textmend::report {

// A descriptor to read the input from (standard input's for "-"), -1 with
// errno set when it cannot be opened.
[[nodiscard]] int open_for_reading(const char* name);

// Closes what open_for_reading opened; standard input stays open.
void close_input(int fd);

// The size of a regular file, -1 for any other input.
[[nodiscard]] std::int64_t regular_file_size(int fd);

// A temporary file that nobody else sees and that goes with its last
// descriptor (unnamed in TMPDIR, or /tmp, where the system allows it);
// nullptr with errno set when none can be made.
[[nodiscard]] std::FILE* open_spool();

// Standard output is a terminal, and neither NO_COLOR nor TERM=dumb (or no
// TERM) asks for plain text. Never on Windows.
[[nodiscard]] bool stdout_is_a_colour_terminal();

}  // namespace textmend::report
