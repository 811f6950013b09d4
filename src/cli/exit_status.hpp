// Exit statuses of textmend.
#pragma once

namespace textmend {

enum ExitStatus : int {
    EXIT_CONVERTED = 0,        // the whole input was converted and the output closed
    EXIT_USAGE = 1,            // wrong command line; the usage text was printed
    EXIT_INPUT_UNUSABLE = 2,   // the input file cannot be opened
    EXIT_OUTPUT_UNUSABLE = 3,  // the output file cannot be opened or created
    EXIT_IO_FAILED = 4,        // a read or write failed during the run
};

}  // namespace textmend
