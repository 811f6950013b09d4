// Messages on standard error. Names are written as given on the command
// line, never used as a format, with control bytes escaped (escaped_name.hpp).
#pragma once

namespace textmend {

// Ways another program changed the input of an in-place run under it.
enum class FileChange {
    replaced,      // its name now refers to another file
    truncated,     // it is shorter than what was read from it
    kept_growing,  // bytes were still being appended after many rounds
};

// "Cannot open input file NAME", an empty line, then the usage text.
void report_cannot_open_input(const char* path);

// "Cannot open output file NAME", an empty line, then the usage text.
void report_cannot_open_output(const char* path);

// "Cannot read input file NAME: REASON" (REASON from strerror).
void report_read_failure(const char* path, int error);

// "Cannot write output file NAME: REASON" (REASON from strerror).
void report_write_failure(const char* path, int error);

// "Cannot write output file NAME: REASON", REASON telling what happened.
void report_output_changed(const char* path, FileChange change);

// The text a change is reported with.
[[nodiscard]] const char* file_change_reason(FileChange change) noexcept;

}  // namespace textmend
