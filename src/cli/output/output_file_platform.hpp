// What output_file.cpp needs from the platform: one implementation for POSIX
// (output_file_posix.cpp), one for Windows (output_file_windows.cpp). Both
// also define the rest of output_file.hpp.
#pragma once

#include <cerrno>

#include "cli/output/output_file.hpp"

namespace textmend {

// open_output_file without the cleanup after a failure.
[[nodiscard]] bool open_output_on_platform(const OutputRequest& request, const InputFile& input,
                                           OutputFile& out);

// open_output_in_place_at without the cleanup after a failure.
[[nodiscard]] bool open_in_place_at_on_platform(const FilePlace& place, const InputFile& input,
                                                OutputFile& out);

inline ReplaceOutcome fail_with_error(FileFailure& failure, int error) {
    failure.error = error;
    return ReplaceOutcome::failed;
}

inline ReplaceOutcome fail_with_errno(FileFailure& failure) {
    return fail_with_error(failure, errno);
}

inline ReplaceOutcome fail_with_change(FileFailure& failure, FileChange change) {
    failure.changed = true;
    failure.change = change;
    return ReplaceOutcome::failed;
}

}  // namespace textmend
