#include "cli/command/arguments.hpp"

namespace textmend {

CommandLine parse_command_line(int argc, const char* const* argv) {
    CommandLine cl{false, MODE_LATIN1, nullptr, nullptr};
    int first = 1;
    if (argc >= 4 && argv[1][0] == '-') {
        if (argv[1][1] == 'w') {
            cl.mode = MODE_CP1252;
            ++first;
        } else if (argv[1][1] == 'u') {
            cl.mode = MODE_UTF8;
            ++first;
        }
    }
    if (argc - first != 2) return cl;
    cl.valid = true;
    cl.input_path = argv[first];
    cl.output_path = argv[first + 1];
    return cl;
}

}  // namespace textmend
