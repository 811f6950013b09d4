// The input file: opened once, read front to back, and for an in-place run
// looked at again before it is replaced.
#pragma once

#include <cstdint>

#include "cli/metadata/file_identity.hpp"
#include TEXTMEND_PLATFORM_TYPES

namespace textmend {

struct InputFile {
    int fd = -1;
    bool is_regular = false;  // only a regular file can be converted in place
    FileIdentity id{};
    std::int64_t size = 0;  // size when it was opened (regular files)
};

// Opens path for reading. False when it cannot be opened or is a directory
// (which Linux would let us open, but which holds no text).
[[nodiscard]] bool open_input_file(const char* path, InputFile& in);

// FilePlace, a file that a program found itself walking a tree, is the
// system's own type (platform_types_posix.hpp, platform_types_windows.hpp).

// Opens the file at place for reading: never through a symbolic link (ELOOP
// on POSIX systems: the name was swapped for one), never waiting for a FIFO's
// writer, and for root with the same refusal of a planted hard link as
// open_input_file.
[[nodiscard]] bool open_input_file_at(const FilePlace& place, InputFile& in);

// The size the regular input has now; -1 with errno set when it cannot be had.
[[nodiscard]] std::int64_t input_file_size(const InputFile& in);

// The byte at offset of the regular input, 0..255; -1 when it cannot be read.
[[nodiscard]] int input_file_byte_at(const InputFile& in, std::int64_t offset);

// Moves the read position of the regular input to offset.
[[nodiscard]] bool input_file_seek(const InputFile& in, std::int64_t offset);

// The descriptor to read what a pipe, socket or terminal input has at hand
// from without waiting: the one its path names (/dev/stdin) when that holds
// the same file, else the input's own. A pipe as the shell made it can be
// read without waiting in one call; the same pipe opened again by name
// cannot, and must be asked first.
[[nodiscard]] int input_at_hand_descriptor(const InputFile& in, const char* path);

void close_input_file(InputFile& in);

}  // namespace textmend
