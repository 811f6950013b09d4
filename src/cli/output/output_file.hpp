// Opening, finishing and abandoning the output.
//
// Three kinds of output:
// - a descriptor the caller handed over (/dev/stdout, /dev/fd/N, ...): written
//   as it is, never truncated, never removed;
// - a file opened by name: created, or truncated when it exists;
// - in place, when the output names the input file itself (by any spelling or
//   link): the result goes to a new temporary file beside it, which replaces
//   the input under its name only once the whole input was read, every write
//   succeeded and the file reached stable storage. A result equal to the
//   input replaces nothing.
//
// On POSIX systems the output is found once and then worked on relative to
// its directory: a symbolic link is followed only when the caller's
// effective user owns it, and just before an in-place replacement the name
// is checked to still refer to the input.
#pragma once

#include <cstdint>

#include "cli/command/messages.hpp"
#include "cli/descriptors/input_file.hpp"
#include "cli/metadata/file_identity.hpp"

namespace textmend {

enum class OutputKind {
    descriptor,  // a descriptor the caller handed over
    file,        // a file opened by name
    in_place,    // a temporary file that replaces the input once complete
};

// What the command line asks for as the output. Worked out before the input
// is opened, so that the input's own descriptor is never taken for one the
// caller handed over.
struct OutputRequest {
    const char* path = nullptr;
    int descriptor = -1;                   // the caller's open descriptor path names, or -1
    bool names_closed_descriptor = false;  // path names a descriptor that is not open
    bool same_path_as_input = false;       // the very path of the input: in place or nothing
};

[[nodiscard]] OutputRequest request_output(const char* path, const char* input_path);

// The output, and where it is (OutputFilePlace: the system's own type, in
// platform_types_posix.hpp and platform_types_windows.hpp).
struct OutputFile : OutputFilePlace {
    OutputKind kind = OutputKind::file;
    int fd = -1;                     // where the converted bytes go
    bool remove_on_failure = false;  // a regular file this run created or truncated
    FileIdentity id{};               // the file fd writes, when it is regular
};

// Opens the output. False when it cannot be opened (errno tells why);
// nothing is left behind then.
[[nodiscard]] bool open_output_file(const OutputRequest& request, const InputFile& input,
                                    OutputFile& out);

// In place at place (see input_file.hpp), whose file input holds open: the
// output that replaces it. False as for open_output_file; EBUSY when the
// name no longer refers to input.
[[nodiscard]] bool open_output_in_place_at(const FilePlace& place, const InputFile& input,
                                           OutputFile& out);

// In place: the count of bytes written; -1 when it cannot be had.
[[nodiscard]] std::int64_t output_file_size(const OutputFile& out);

// In place: empties the output, to write it again from the start.
[[nodiscard]] bool rewind_output_file(OutputFile& out);

// Why finishing an output failed: an errno value, or a change another
// program made to the input.
struct FileFailure {
    int error = 0;
    bool changed = false;
    FileChange change = FileChange::replaced;
};

enum class ReplaceOutcome {
    replaced,    // the input's name now holds the output
    input_grew,  // bytes were appended to the input: convert them first
    failed,      // see the FileFailure; the input is untouched
};

// In place, once the output holds the conversion of the input's first
// consumed bytes: gives it the input's owner, group, extended attributes
// (ACLs included) and mode, flushes it to stable storage and renames it over
// the input's name, provided that name still refers to the input and the
// input still holds exactly consumed bytes. Closes the input where an open
// file cannot be replaced.
[[nodiscard]] ReplaceOutcome replace_input(OutputFile& out, InputFile& input, std::int64_t consumed,
                                           FileFailure& failure);

// Descriptor and file outputs, complete: closes the output. Returns 0, or
// the errno of the failure.
[[nodiscard]] int close_output_file(OutputFile& out);

// Closes the output and removes what the run wrote: the temporary file, or
// an incomplete regular file this run created or truncated (emptied first,
// and only while its name still refers to it). Leaves a descriptor's file
// as it is.
void discard_output_file(OutputFile& out);

}  // namespace textmend
