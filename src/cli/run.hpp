// One whole run of textmend: command line, files, conversion, messages and
// exit status. main() is only this; tests call it in-process with hooks that
// make reads or writes fail on purpose.
#pragma once

#include "convert/byte_io.hpp"

namespace textmend {

// Wrappers around the real input source and output sink of a run.
struct IoHooks {
    ByteSource (*input)(ByteSource real, void* context);
    ByteSink (*output)(ByteSink real, void* context);
    void* context;
};

// Runs textmend on the arguments (argv[0] is the program name) and returns
// the exit status. With hooks, the input is always read (never mapped), so
// that every read passes through the hook. Not reentrant: a run uses
// process-wide buffers and signal handlers.
int run_textmend(int argc, const char* const* argv, const IoHooks* hooks = nullptr);

}  // namespace textmend
