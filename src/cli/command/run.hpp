// One whole run of textmend: command line, files, conversion, messages and
// exit status. main() is only this; tests call it in-process with hooks that
// make reads or writes fail on purpose.
#pragma once

#include "cli/file_conversion.hpp"

namespace textmend {

// Runs textmend on the arguments (argv[0] is the program name) and returns
// the exit status. Not reentrant: a run installs process-wide signal
// handlers.
int run_textmend(int argc, const char* const* argv, const IoHooks* hooks = nullptr);

}  // namespace textmend
