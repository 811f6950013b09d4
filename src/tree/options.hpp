// The command line of textmend-tree:
//   textmend-tree [-w | -u] [-n | --dry-run] [-j N | --jobs N] [--json] [-q | --quiet]
//                 [--include GLOB]... [--exclude GLOB]... [--binary] [--backup SUFFIX]
//                 [-x | --one-file-system] [--undo-double] [--] PATH...
// Options may come before, between or after the paths, until "--". Short
// options without a value may be joined (-nq); -j takes its number joined
// (-j4) or as the next argument, and long options take theirs after "=" or
// as the next argument.
#pragma once

#include <string>
#include <vector>

#include "textmend/target.hpp"

namespace textmend::tree {

struct TreeOptions {
    Target target = Target::latin1;
    bool dry_run = false;
    unsigned jobs = 0;  // 0: as many as the processors the process may use
    bool json = false;
    bool quiet = false;
    std::vector<std::string> include;
    std::vector<std::string> exclude;
    bool binary = false;        // convert files that hold a byte 00 too
    std::string backup_suffix;  // empty: no backup
    bool one_file_system = false;
    bool undo_double = false;  // also undo text encoded twice
    std::vector<const char*> paths;
};

enum class Request {
    run,      // walk the paths
    help,     // print the usage on standard output
    version,  // print the version
    wrong,    // a wrong command line: error tells what is wrong
};

struct CommandLine {
    Request request = Request::run;
    TreeOptions options;
    std::string error;  // one line, without "textmend-tree: " and newline
};

[[nodiscard]] CommandLine parse_command_line(int argc, const char* const* argv);

// The usage text, ending in a newline.
extern const char USAGE[];

// The most jobs -j accepts.
inline constexpr unsigned MAX_JOBS = 256;

}  // namespace textmend::tree
