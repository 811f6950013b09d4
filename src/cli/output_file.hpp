// Opening, finishing and abandoning the output file.
//
// When the output names the same regular file as the input (by any path, a
// hard link or a symbolic link), opening it for writing would truncate the
// input before it is read. Then the result goes to a new temporary file next
// to the file it will replace, and is renamed over that file only once the
// whole input was read and every write succeeded.
#pragma once

#include <climits>

#include "cli/input_file.hpp"

namespace textmend {

#ifdef PATH_MAX
inline constexpr int OUTPUT_PATH_MAX = PATH_MAX;
#else
inline constexpr int OUTPUT_PATH_MAX = 4096;
#endif

struct OutputFile {
    int fd;
    int in_place;           // 1: fd is a temporary file that replaces target_path
    int remove_on_failure;  // 1: target_path is a regular file to delete if the run fails
    char target_path[OUTPUT_PATH_MAX];  // the file replaced, or the file written
    char temp_path[OUTPUT_PATH_MAX];    // the temporary file while in_place
};

// Opens path for writing (created or truncated), or a temporary file beside
// it when it is the input itself. Returns 1, or 0 with nothing left behind.
int open_output_file(const char* path, const InputFile& input, OutputFile& out);

// Closes the output and, in place, renames the temporary file over the
// target. Returns 0, or the errno of the failure (the output is then
// discarded).
int commit_output_file(OutputFile& out);

// Closes the output and removes what the run wrote: the temporary file, or an
// output that is a regular file.
void discard_output_file(OutputFile& out);

}  // namespace textmend
