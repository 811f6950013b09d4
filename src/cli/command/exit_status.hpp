// Exit statuses of textmend.
#pragma once

namespace textmend {

enum class ExitStatus : int {
    converted = 0,        // the whole input was converted and the output closed
    usage = 1,            // wrong command line; the usage text was printed
    input_unusable = 2,   // the input file cannot be opened
    output_unusable = 3,  // the output file cannot be opened or created
    io_failed = 4,        // a read or write failed during the run
};

}  // namespace textmend
