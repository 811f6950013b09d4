// The command line: textmend [-w] infile outfile | textmend [-u] infile outfile
#pragma once

#include "convert/output_mode.hpp"

namespace textmend {

struct CommandLine {
    bool valid;  // false: a wrong command line, print the usage text
    OutputMode mode;
    const char* input_path;
    const char* output_path;
};

// Only with three or more arguments is the first one taken as an option: its
// first two characters "-w" (so -wide too) select MODE_CP1252 and "-u" selects
// MODE_UTF8; either way it is dropped. Exactly two arguments must remain.
CommandLine parse_command_line(int argc, const char* const* argv);

}  // namespace textmend
