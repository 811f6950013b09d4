// Opening the input file.
#pragma once

namespace textmend {

struct InputFile {
    int fd;
    int is_regular;             // 1 for a regular file (only then can it be converted in place)
    unsigned long long device;  // identity of the file, to recognise it as the output
    unsigned long long inode;
    unsigned permissions;  // permission bits, given to a file that replaces it
    long long size;        // size of a regular file when it was opened
    unsigned owner;
    unsigned group;
};

// Opens path for reading. Returns 1, or 0 when it cannot be opened or is a
// directory (which Linux would let us open, but which holds no text).
int open_input_file(const char* path, InputFile& in);

void close_input_file(InputFile& in);

}  // namespace textmend
