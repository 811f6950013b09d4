// What output_file.cpp needs from the platform: one implementation for POSIX
// (output_file_posix.cpp), one for Windows (output_file_windows.cpp).
#pragma once

#include "cli/input_file.hpp"
#include "cli/output_file.hpp"

namespace textmend::platform {

// Whether path names the regular file that input is, by any spelling or link.
int names_input(const char* path, const InputFile& input);

// Sets out.target_path to the file that path finally names (links followed)
// and out.temp_path to a new, unique, empty file beside it, opened as out.fd
// with the input's permission bits. Returns 1, or 0 with nothing left.
int create_temp_beside(const char* path, const InputFile& input, OutputFile& out);

// Opens path for writing (created or truncated) as out.fd; when it is a
// regular file, sets out.target_path to the file itself for removal and
// returns 2. Returns 1 for any other kind of file, 0 on failure.
int open_for_writing(const char* path, OutputFile& out);

// Each returns 0 or an errno value.
int close_file(int fd);
int replace_file(const char* from, const char* to);

void remove_file(const char* path);

}  // namespace textmend::platform
