// The command line of textmend-report:
//   textmend-report [-w | -u] [--json] [--max-examples N] [--] [FILE...]
// Options may come before, between or after the files, until "--"; "-"
// names standard input, as does an empty list of files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "textmend/textmend.hpp"

namespace textmend::report {

struct ReportOptions {
    Target target = Target::latin1;
    bool json = false;
    std::uint64_t max_examples = 10;
    std::vector<const char*> files;  // as given; empty: standard input
};

enum class Request {
    report,   // inspect the files
    help,     // print the usage on standard output
    version,  // print the version
    wrong,    // a wrong command line: error tells what is wrong
};

struct CommandLine {
    Request request = Request::report;
    ReportOptions options;
    std::string error;  // one line, without "textmend-report: " and newline
};

[[nodiscard]] CommandLine parse_command_line(int argc, const char* const* argv);

// The usage text, ending in a newline.
extern const char USAGE[];

}  // namespace textmend::report
